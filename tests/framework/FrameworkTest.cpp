#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "framework/Application.h"
#include "framework/Exception.h"
#include "framework/FileStream.h"
#include "framework/HostPath.h"
#include "framework/MemoryStream.h"
#include "framework/StringList.h"
#include "framework/Text.h"

using namespace qvl;

TEST(StringList, UnsortedKeepsOrderAndTextEndsEachLineWithCrLf) {
    TStringList list;
    EXPECT_EQ(list.Add("b"), 0);
    EXPECT_EQ(list.Add("a"), 1);
    list.Put(0, "c");
    EXPECT_EQ(list.Text(), "c\r\na\r\n");
    list.Delete(0);
    EXPECT_EQ(list.Count(), 1);
    EXPECT_EQ(list[0], "a");
    EXPECT_EQ(TStringList().Text(), "");
}

TEST(StringList, SortedInsertsInOrderAndRefusesReplace) {
    TStringList list;
    list.SetSorted(true);
    list.Add("m");
    EXPECT_EQ(list.Add("a"), 0);
    EXPECT_EQ(list.Add("z"), 2);
    try {
        list.Put(0, "x");
        FAIL() << "replace on a sorted list must fail";
    } catch (const EStringListError& e) {
        EXPECT_EQ(e.Message(), "Operation not allowed on sorted list");
    }
    EXPECT_EQ(list.Text(), "a\r\nm\r\nz\r\n");
}

TEST(StringList, BadIndexIsAnErrorNotUndefinedBehaviour) {
    TStringList list;
    EXPECT_THROW(list.Get(0), EStringListError);
    EXPECT_THROW(list.Delete(-1), EStringListError);
    list.Add("x");
    EXPECT_THROW(list.Put(1, "y"), EStringListError);
}

TEST(StringList, SetTextSplitsAtEveryLineEnd) {
    TStringList list;
    list.SetText("a\r\nb\nc\rd");
    ASSERT_EQ(list.Count(), 4);
    EXPECT_EQ(list[3], "d");
}

TEST(Text, LowerCasesAsciiOnlyAndTrimsOnlyTheGivenBlanks) {
    // Host names and header names: a UTF-8 or Latin-1 byte is never folded, whatever the locale.
    EXPECT_EQ(AsciiLower("Chunked HOST.Example-9 \xC3\x84\xC4\xE4"), "chunked host.example-9 \xC3\x84\xC4\xE4");
    // A header value keeps a CR (the line end is taken off before); a setting from a file loses it.
    const std::vector<std::vector<std::string>> cases = {
        {" \t a b \t ", "a b"}, {" \t \t", ""}, {"", ""}, {" value\r", "value\r"},
        {std::string("\0x\0", 3), std::string("\0x\0", 3)}, {"\r\n host:80 \n", "host:80", " \t\r\n"}};
    for (const auto& c : cases)
        EXPECT_EQ(c.size() == 3 ? Trimmed(c[0], c[2]) : Trimmed(c[0]), c[1]) << "[" << c[0] << "]";
}

TEST(ErrorBox, FullStopOnlyAfterBytesGreaterThanDot) {
    EXPECT_EQ(Application::ErrorBoxText("Cannot create C:\\Quorvale\\"), "Cannot create C:\\Quorvale\\.");
    EXPECT_EQ(Application::ErrorBoxText("Connection Failed"), "Connection Failed.");
    EXPECT_EQ(Application::ErrorBoxText("done."), "done.");
    EXPECT_EQ(Application::ErrorBoxText("trailing "), "trailing ");
    EXPECT_EQ(Application::ErrorBoxText("10061:Connection refused"), "10061:Connection refused.");
    EXPECT_EQ(Application::ErrorBoxText("a-"), "a-");  // '-' is below '.'
    EXPECT_EQ(Application::ErrorBoxText("a/"), "a/.");  // '/' is above '.'
    EXPECT_EQ(Application::ErrorBoxText(""), "");
}

TEST(ErrorBox, GuardShowsExceptionsAndNonExceptionsAsEmptyMessage) {
    std::vector<std::string> shown;
    Application::SetExceptionDisplay([&](const std::string& text) { shown.push_back(text); });
    EXPECT_FALSE(Application::Guarded([] { throw Exception("Host Lookup Failed"); }));
    EXPECT_FALSE(Application::Guarded([] { throw 42; }));
    EXPECT_TRUE(Application::Guarded([] {}));
    EXPECT_FALSE(Application::Swallowed([] { throw Exception("quiet"); }));
    Application::SetExceptionDisplay(nullptr);
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0], "Host Lookup Failed.");
    EXPECT_EQ(shown[1], "");
}

TEST(Convert, StrToIntAcceptsIntegersAndNamesBadText) {
    EXPECT_EQ(StrToInt("8080"), 8080);
    EXPECT_EQ(StrToInt("-12"), -12);
    EXPECT_EQ(StrToInt("$FF"), 255);
    try {
        StrToInt("x");
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "'x' is not a valid integer value");
    }
    EXPECT_THROW(StrToInt(""), EConvertError);
    EXPECT_THROW(StrToInt("80a"), EConvertError);
    EXPECT_THROW(StrToInt("99999999999"), EConvertError);
}

#ifdef _WIN32
TEST(HostPath, WindowsPathsAreUsedAsTheyStand) {
    EXPECT_EQ(HostPath("C:\\Quorvale\\"), "C:\\Quorvale\\");
    EXPECT_EQ(HostPath("c:/Quorvale/qvlloader.exe"), "c:/Quorvale/qvlloader.exe");
    EXPECT_EQ(HostPath("relative\\file"), "relative\\file");
}
#else
class HostPathTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* home = std::getenv("HOME");
        saved_ = home ? home : "";
        setenv("HOME", "/home/u", 1);
    }
    void TearDown() override { setenv("HOME", saved_.c_str(), 1); }
    std::string saved_;
};

TEST_F(HostPathTest, DriveCIsHomeAndBothSeparatorsWork) {
    EXPECT_EQ(HostPath("C:\\Quorvale\\"), "/home/u/Quorvale/");
    EXPECT_EQ(HostPath("c:/Quorvale/qvlloader.exe"), "/home/u/Quorvale/qvlloader.exe");
    EXPECT_EQ(HostPath("C:\\"), "/home/u/");
    EXPECT_EQ(HostPath("/tmp/x\\Quorvale\\"), "/tmp/x/Quorvale/");
    EXPECT_EQ(HostPath("\\Quorvale\\"), "/Quorvale/");
    EXPECT_EQ(HostPath("relative\\file"), "relative/file");
}
#endif

// Line ends, ^Z and NUL are bytes like any other: a stream that translated them (text mode)
// would corrupt every download.
TEST(Streams, FileStreamKeepsEveryByteAsWritten) {
    const auto dir = std::filesystem::temp_directory_path() / ("qvl-fw-bytes-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "b.bin").string();
    const std::string bytes("a\nb\r\nc\x1a\0d\n\n\r", 12);
    {
        TFileStream out(path, TFileStream::Mode::Create);
        out.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    }
    EXPECT_EQ(std::filesystem::file_size(path), bytes.size());
    {
        TFileStream in(path, TFileStream::Mode::OpenRead);
        std::string back(bytes.size() + 1, '?');
        EXPECT_EQ(in.Read(back.data(), static_cast<int64_t>(back.size())), static_cast<int64_t>(bytes.size()));
        back.resize(bytes.size());
        EXPECT_EQ(back, bytes);
    }
    std::filesystem::remove_all(dir);
}

TEST(Streams, FileStreamRoundTripAndErrorsNameThePathAsGiven) {
    const auto dir = std::filesystem::temp_directory_path() / ("qvl-fw-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "a.bin").string();
    {
        TFileStream out(path, TFileStream::Mode::Create);
        out.WriteBuffer("hello", 5);
        EXPECT_EQ(out.Size(), 5);
    }
    {
        TFileStream in(path, TFileStream::Mode::OpenRead);
        char buf[8] = {};
        EXPECT_EQ(in.Read(buf, 8), 5);
        EXPECT_EQ(std::string(buf), "hello");
        EXPECT_THROW(in.ReadBuffer(buf, 1), EReadError);
    }
    {
        TFileStream again(path, TFileStream::Mode::Create);  // create empties
        EXPECT_EQ(again.Size(), 0);
    }
    const std::string missing = (dir / "no\\such").string();
    try {
        TFileStream in(missing, TFileStream::Mode::OpenRead);
        FAIL();
    } catch (const EFOpenError& e) {
        EXPECT_EQ(e.Message(), "Cannot open file " + missing);
    }
    try {
        TFileStream out((dir / "nodir" / "f").string(), TFileStream::Mode::Create);
        FAIL();
    } catch (const EFCreateError& e) {
        EXPECT_EQ(e.Message(), "Cannot create file " + (dir / "nodir" / "f").string());
    }
    EXPECT_THROW(TFileStream(dir.string(), TFileStream::Mode::Create), EFCreateError);
    std::filesystem::remove_all(dir);
}

TEST(Streams, MemoryStreamGrowsOnWriteAndSeeks) {
    TMemoryStream m;
    m.WriteBuffer("abc", 3);
    m.SetPosition(1);
    m.WriteBuffer("XYZ", 3);
    EXPECT_EQ(m.Data(), "aXYZ");
    m.SetPosition(0);
    TMemoryStream copy;
    copy.CopyFrom(m, 0);
    EXPECT_EQ(copy.Data(), "aXYZ");
    char c;
    m.SetPosition(4);
    EXPECT_EQ(m.Read(&c, 1), 0);
}
