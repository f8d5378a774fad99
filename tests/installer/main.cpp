// The installer's tests need the window system's application object. On Linux they run on Qt's
// offscreen platform unless QT_QPA_PLATFORM names another.
#include <gtest/gtest.h>

#include <cstdlib>

#include "installer/ViewApplication.h"
#include "support/PlatformSkip.h"

int main(int argc, char* argv[]) {
#if QVL_TEST_LINUX
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (!platform || !*platform) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
#endif
    qvl::ViewApplication app(argc, argv, false);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
