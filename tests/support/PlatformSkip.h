#pragma once
// Where a test file's cases cannot run on a platform (they start nginx, squid, tinyproxy or a
// POSIX child process, use Qt's window or openssl on the Linux side; or call Win32), the file
// still builds there: its cases stand inside `#if QVL_TEST_LINUX` (or QVL_TEST_WINDOWS), and
// the other branch holds QVL_TESTS_SKIPPED_HERE, one test that is skipped and says why.
#include <gtest/gtest.h>

#ifdef _WIN32
#define QVL_TEST_LINUX 0
#define QVL_TEST_WINDOWS 1
#else
#define QVL_TEST_LINUX 1
#define QVL_TEST_WINDOWS 0
#endif

#define QVL_TESTS_SKIPPED_HERE(Suite, why) \
    TEST(Suite, SkippedOnThisPlatform) { GTEST_SKIP() << why; }
