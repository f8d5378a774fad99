// Environment lookup and the file-system probes on the Windows services, with Windows paths as
// they stand.
#include "support/PlatformSkip.h"
#if QVL_TEST_WINDOWS
#include <filesystem>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "support/Win32Headers.h"

#include "platform/FileSystem.h"
#include "support/TempDir.h"

using namespace qvl::platform;
using qvl::test::TempDir;

namespace {

// Sets an environment variable for one test and removes it afterwards.
class EnvVariable {
public:
    EnvVariable(std::string name, const std::string& value) : name_(std::move(name)) {
        SetEnvironmentVariableA(name_.c_str(), value.c_str());
    }
    ~EnvVariable() { SetEnvironmentVariableA(name_.c_str(), nullptr); }
    EnvVariable(const EnvVariable&) = delete;
    EnvVariable& operator=(const EnvVariable&) = delete;

private:
    std::string name_;
};

std::string Windows(const std::filesystem::path& path) { return path.string(); }

}  // namespace

TEST(Environment, NamesMatchWithoutRegardToCaseAndAppDataIsTheSystems) {
    EnvVariable mixed("Qvl_Test_Mixed", "value one");
    EXPECT_EQ(GetEnvironmentVariable("QVL_TEST_MIXED"), "value one");
    EXPECT_EQ(GetEnvironmentVariable("qvl_test_mixed"), "value one");
    EXPECT_EQ(GetEnvironmentVariable("QVL_TEST_MIXE"), std::nullopt);  // a prefix is no match
    EXPECT_EQ(GetEnvironmentVariable("QVL_TEST_MIXED="), std::nullopt);
    EXPECT_EQ(GetEnvironmentVariable("QVL_TEST_MISSING"), std::nullopt);
    EnvVariable empty("QVL_TEST_EMPTY", "");
    EXPECT_EQ(GetEnvironmentVariable("qvl_test_empty"), "");  // set but empty is still set
    const std::string longValue(5000, 'v');  // longer than a first guess of the buffer
    EnvVariable big("QVL_TEST_LONG", longValue);
    EXPECT_EQ(GetEnvironmentVariable("QVL_TEST_LONG"), longValue);
    const auto appData = GetEnvironmentVariable("appdata");
    ASSERT_TRUE(appData.has_value());
    EXPECT_NE(appData->find(':'), std::string::npos) << *appData;  // a Windows path, as it stands
}

TEST(FileAttributes, FolderFileReadOnlyFileAndNothing) {
    TempDir dir;
    std::filesystem::create_directory(dir / "Quorvale");
    dir.WriteFile("Quorvale/qvlloader.exe", "MZ");
    const auto readOnly = dir.WriteFile("Quorvale/version.txt", "1");
    ASSERT_TRUE(SetFileAttributesA(Windows(readOnly).c_str(), FILE_ATTRIBUTE_READONLY));
    const std::string base = Windows(dir.Path()) + "\\Quorvale";

    EXPECT_EQ(GetFileAttributes(base), kFileAttributeDirectory);
    EXPECT_EQ(GetFileAttributes(base + "\\"), kFileAttributeDirectory);
    EXPECT_EQ(GetFileAttributes(base + "\\qvlloader.exe"), kFileAttributeArchive);
    EXPECT_EQ(GetFileAttributes(base + "\\version.txt"), kFileAttributeArchive | kFileAttributeReadOnly);
    EXPECT_EQ(GetFileAttributes(base + "\\missing.exe"), kInvalidFileAttributes);
    EXPECT_EQ(GetFileAttributes(base + "\\Missing\\x.exe"), kInvalidFileAttributes);
    EXPECT_EQ(GetFileAttributes(""), kInvalidFileAttributes);
    SetFileAttributesA(Windows(readOnly).c_str(), FILE_ATTRIBUTE_NORMAL);  // so the folder can go
}

TEST(FileAttributes, AreTheSystemsValueAsItStands) {
    // Folders with more than the folder bit: the probe gives every bit the system reports, not
    // a folder's bare 16. Windows keeps the bits set here; wine reports a dot name as hidden.
    TempDir dir;
    std::filesystem::create_directory(dir / "Quorvale");
    std::filesystem::create_directory(dir / ".quorvale");
    const std::string marked = Windows(dir / "Quorvale"), dotted = Windows(dir / ".quorvale");
    SetFileAttributesA(marked.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
    bool moreThanAFolder = false;
    for (const std::string& folder : {marked, dotted}) {
        SCOPED_TRACE(folder);
        const DWORD system = GetFileAttributesA(folder.c_str());
        ASSERT_NE(system, INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(GetFileAttributes(folder), system);
        EXPECT_EQ(GetFileAttributes(folder + "\\"), system);
        moreThanAFolder = moreThanAFolder || system != FILE_ATTRIBUTE_DIRECTORY;
    }
    SetFileAttributesA(marked.c_str(), FILE_ATTRIBUTE_NORMAL);  // so the folder can go
    if (!moreThanAFolder) GTEST_SKIP() << "this file system reports no folder with more than the folder bit";
}

TEST(CreateDirectory, OneLevelWithOrWithoutTrailingSeparator) {
    TempDir dir;
    const std::string base = Windows(dir.Path());
    EXPECT_FALSE(CreateDirectory(base + "\\Quorvale\\Sub\\"));  // the parent is missing
    EXPECT_TRUE(CreateDirectory(base + "\\Quorvale\\"));
    EXPECT_TRUE(std::filesystem::is_directory(dir / "Quorvale"));
    EXPECT_TRUE(CreateDirectory(base + "\\Quorvale\\Sub"));
    EXPECT_TRUE(std::filesystem::is_directory(dir / "Quorvale" / "Sub"));
    EXPECT_FALSE(CreateDirectory(base + "\\Quorvale\\"));  // already there
    dir.WriteFile("taken", "x");
    EXPECT_FALSE(CreateDirectory(base + "\\taken\\"));  // a file has the name
    EXPECT_FALSE(CreateDirectory(""));
}

#else
QVL_TESTS_SKIPPED_HERE(WindowsFileSystem, "Win32 paths and attributes; FileSystem tests the POSIX file system")
#endif
