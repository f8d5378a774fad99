// Environment lookup and the file-system probes, on a private folder that stands in for $HOME.
#include "support/PlatformSkip.h"
#if QVL_TEST_LINUX
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/FileSystem.h"
#include "support/TempDir.h"

using namespace qvl::platform;
using qvl::test::TempDir;

namespace {

// Sets or unsets environment variables for one test and puts the old values back.
class EnvGuard {
public:
    ~EnvGuard() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            if (it->second) ::setenv(it->first.c_str(), it->second->c_str(), 1);
            else ::unsetenv(it->first.c_str());
        }
    }
    void Set(const std::string& name, const std::string& value) {
        Save(name);
        ::setenv(name.c_str(), value.c_str(), 1);
    }
    void Unset(const std::string& name) {
        Save(name);
        ::unsetenv(name.c_str());
    }

private:
    void Save(const std::string& name) {
        const char* old = std::getenv(name.c_str());
        saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    }
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

}  // namespace

TEST(Environment, NamesMatchWithoutRegardToCase) {
    EnvGuard env;
    env.Set("Qvl_Test_Mixed", "value one");
    EXPECT_EQ(GetEnvironmentVariable("QVL_TEST_MIXED"), "value one");
    EXPECT_EQ(GetEnvironmentVariable("qvl_test_mixed"), "value one");
    EXPECT_EQ(GetEnvironmentVariable("Qvl_Test_Mixed"), "value one");
    EXPECT_EQ(GetEnvironmentVariable("QVL_TEST_MIXE"), std::nullopt);  // a prefix is no match
    EXPECT_EQ(GetEnvironmentVariable("QVL_TEST_MIXED="), std::nullopt);
    env.Set("QVL_TEST_EMPTY", "");
    EXPECT_EQ(GetEnvironmentVariable("qvl_test_empty"), "");  // set but empty is still set
    env.Unset("QVL_TEST_MISSING");
    EXPECT_EQ(GetEnvironmentVariable("QVL_TEST_MISSING"), std::nullopt);
    // Where the host has both spellings, the exact one wins.
    env.Set("QVL_TEST_MIXED", "value two");
    EXPECT_EQ(GetEnvironmentVariable("Qvl_Test_Mixed"), "value one");
    EXPECT_EQ(GetEnvironmentVariable("QVL_TEST_MIXED"), "value two");
}

// APPDATA is looked up as any other variable; what stands for it where it is missing is the
// special folder's business (ShellTest).
TEST(Environment, AppDataIsAPlainLookup) {
    EnvGuard env;
    env.Set("XDG_DATA_HOME", "/data/home");
    env.Set("APPDATA", "C:\\Users\\someone\\AppData\\Roaming");
    EXPECT_EQ(GetEnvironmentVariable("appdata"), "C:\\Users\\someone\\AppData\\Roaming");
    env.Unset("APPDATA");
    EXPECT_EQ(GetEnvironmentVariable("APPDATA"), std::nullopt);
}

TEST(FileAttributes, FolderFileReadOnlyFileAndNothing) {
    TempDir home;
    EnvGuard env;
    env.Set("HOME", home.Path().string());
    std::filesystem::create_directory(home / "Quorvale");
    const auto file = home.WriteFile("Quorvale/qvlloader.exe", "MZ");
    const auto readOnly = home.WriteFile("Quorvale/version.txt", "1");
    ASSERT_EQ(::chmod(readOnly.c_str(), 0444), 0);

    EXPECT_EQ(GetFileAttributes("C:\\Quorvale"), kFileAttributeDirectory);
    EXPECT_EQ(GetFileAttributes("C:\\Quorvale\\"), kFileAttributeDirectory);
    EXPECT_EQ(GetFileAttributes("C:/Quorvale/"), kFileAttributeDirectory);
    EXPECT_EQ(GetFileAttributes((home / "Quorvale").string()), kFileAttributeDirectory);
    EXPECT_EQ(GetFileAttributes("C:\\Quorvale\\qvlloader.exe"), kFileAttributeArchive);
    EXPECT_EQ(GetFileAttributes("C:\\Quorvale\\version.txt"), kFileAttributeArchive | kFileAttributeReadOnly);
    EXPECT_EQ(GetFileAttributes("C:\\Quorvale\\missing.exe"), kInvalidFileAttributes);
    EXPECT_EQ(GetFileAttributes("C:\\Missing\\qvlloader.exe"), kInvalidFileAttributes);
    EXPECT_EQ(GetFileAttributes(""), kInvalidFileAttributes);
}

TEST(CreateDirectory, OneLevelWithOrWithoutTrailingSeparator) {
    TempDir home;
    EnvGuard env;
    env.Set("HOME", home.Path().string());

    EXPECT_FALSE(CreateDirectory("C:\\Quorvale\\Sub\\"));  // the parent is missing
    EXPECT_FALSE(std::filesystem::exists(home / "Quorvale"));

    EXPECT_TRUE(CreateDirectory("C:\\Quorvale\\"));
    EXPECT_TRUE(std::filesystem::is_directory(home / "Quorvale"));
    EXPECT_TRUE(CreateDirectory("C:\\Quorvale\\Sub"));
    EXPECT_TRUE(std::filesystem::is_directory(home / "Quorvale" / "Sub"));
    EXPECT_TRUE(CreateDirectory((home / "Plain/").string()));
    EXPECT_TRUE(std::filesystem::is_directory(home / "Plain"));

    EXPECT_FALSE(CreateDirectory("C:\\Quorvale\\"));  // already there
    home.WriteFile("taken", "x");
    EXPECT_FALSE(CreateDirectory("C:\\taken\\"));  // a file has the name
    EXPECT_FALSE(CreateDirectory(""));
}

#else
QVL_TESTS_SKIPPED_HERE(FileSystem, "POSIX permissions and paths; WindowsFileSystem tests the Win32 file system")
#endif
