// The header line list: finding and setting headers by name.
#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <utility>

#include "framework/Exception.h"
#include "net/http/ExtStrings.h"

#ifdef _WIN32
#include "support/Win32Headers.h"
#endif

using namespace qvl;

namespace {

// Runs the test body in a given locale and restores the previous one.
class LocaleScope {
public:
    explicit LocaleScope(const char* name) {
        const char* old = std::setlocale(LC_ALL, nullptr);
        saved_ = old ? old : "C";
        ok_ = std::setlocale(LC_ALL, name) != nullptr;
    }
    ~LocaleScope() { std::setlocale(LC_ALL, saved_.c_str()); }
    bool ok() const { return ok_; }

private:
    std::string saved_;
    bool ok_;
};

}  // namespace

TEST(ExStringList, SetHeaderAppendsReplacesAndRemoves) {
    TExStringList l;
    l.SetHeader("Host", "a");
    EXPECT_EQ(l.Text(), "Host: a\r\n");
    l.SetHeader("Host", "b");
    EXPECT_EQ(l.Text(), "Host: b\r\n");

    l.Add("Accept: x");
    l.SetHeader("host", "c");  // the name as given is written
    EXPECT_EQ(l.Text(), "host: c\r\nAccept: x\r\n");

    l.SetHeader("Cookie", "");  // absent: nothing happens
    EXPECT_EQ(l.Count(), 2);
    l.SetHeader("HOST", "");
    EXPECT_EQ(l.Text(), "Accept: x\r\n");
}

TEST(ExStringList, IndexOfHeaderSkipsLinesWithoutColon) {
    TExStringList l;
    EXPECT_EQ(l.IndexOfHeader("Host"), -1);
    l.Add("GET / HTTP/1.0");
    l.Add("Accept: text/html");
    EXPECT_EQ(l.IndexOfHeader("accept"), 1);
    EXPECT_EQ(l.IndexOfHeader("GET / HTTP/1.0"), -1);
    EXPECT_EQ(l.IndexOfHeader("Accept "), -1);  // the blank after the colon is not in the name
    l.Add(": no name");
    EXPECT_EQ(l.IndexOfHeader(""), 2);
}

TEST(ExStringList, TheFirstOfTwoLinesOfAHeaderIsUsed) {
    TExStringList l;
    l.Add("Accept: one");
    l.Add("Accept: two");
    EXPECT_EQ(l.IndexOfHeader("ACCEPT"), 0);
    l.SetHeader("Accept", "new");
    EXPECT_EQ(l.Text(), "Accept: new\r\nAccept: two\r\n");
    l.SetHeader("Accept", "");
    EXPECT_EQ(l.Text(), "Accept: two\r\n");
}

TEST(ExStringList, SortedListIsSearchedByHalving) {
    TExStringList l;
    l.SetSorted(true);
    EXPECT_EQ(l.IndexOfHeader("a"), -1);
    for (const char* line : {"accept: 1", "cookie: 2", "from: 3", "host: 4", "referer: 5"}) l.Add(line);
    EXPECT_EQ(l.IndexOfHeader("Accept"), 0);
    EXPECT_EQ(l.IndexOfHeader("HOST"), 3);
    EXPECT_EQ(l.IndexOfHeader("referer"), 4);
    EXPECT_EQ(l.IndexOfHeader("date"), -1);
    EXPECT_EQ(l.IndexOfHeader("zzz"), -1);
    // Replacing a line is refused on a sorted list.
    EXPECT_THROW(l.SetHeader("Host", "x"), EStringListError);
}

TEST(ExStringList, ASortedListIsOrderedTheWayItIsSearched) {
    // In byte order "Host" comes before "accept"; a search that halves by names without regard
    // to case would then miss "accept".
    TExStringList l;
    l.Add("Host: a");
    l.Add("accept: b");
    l.Add("Cookie: c");
    l.Add("ACCEPT: d");
    l.SetSorted(true);
    EXPECT_EQ(l.Text(), "accept: b\r\nACCEPT: d\r\nCookie: c\r\nHost: a\r\n");
    EXPECT_EQ(l.IndexOfHeader("Accept"), 0);
    EXPECT_EQ(l.IndexOfHeader("cookie"), 2);
    EXPECT_EQ(l.IndexOfHeader("HOST"), 3);
    l.Add("Date: e");
    l.Add("accept: f");
    EXPECT_EQ(l.Text(), "accept: b\r\nACCEPT: d\r\naccept: f\r\nCookie: c\r\nDate: e\r\nHost: a\r\n");
    EXPECT_EQ(l.IndexOfHeader("date"), 4);
    EXPECT_EQ(l.IndexOfHeader("Accept"), 0);
}

TEST(ExStringList, RefusedSetHeaderLeavesASortedListUnchanged) {
    TExStringList l;
    l.SetSorted(true);
    l.Add("host: 4");
    l.Add("accept: 1");
    const std::string before = l.Text();
    // Present and absent headers alike: no placeholder line is left behind.
    EXPECT_THROW(l.SetHeader("Host", "x"), EStringListError);
    EXPECT_THROW(l.SetHeader("Cookie", "c"), EStringListError);
    EXPECT_EQ(l.Text(), before);
    // Removing stays allowed.
    l.SetHeader("HOST", "");
    EXPECT_EQ(l.Text(), "accept: 1\r\n");
}

TEST(ExStringList, AsciiNamesIgnoreCaseInTheCLocaleAndInUtf8) {
    {
        LocaleScope c("C");
        ASSERT_TRUE(c.ok());
        EXPECT_EQ(CompareHeaderNames("host", "HOST"), 0);
        EXPECT_EQ(CompareHeaderNames("Content-Length", "content-length"), 0);
        EXPECT_LT(CompareHeaderNames("Accept", "cookie"), 0);
        EXPECT_GT(CompareHeaderNames("Referer", "host"), 0);
        EXPECT_NE(CompareHeaderNames("Host", "Hostx"), 0);
        EXPECT_NE(CompareHeaderNames(std::string("a\0b", 3), "a"), 0);
        EXPECT_EQ(CompareHeaderNames(std::string("A\0b", 3), std::string("a\0B", 3)), 0);
    }
    {
        LocaleScope utf8("C.UTF-8");
        if (!utf8.ok()) GTEST_SKIP() << "no C.UTF-8 locale";
        EXPECT_EQ(CompareHeaderNames("host", "HOST"), 0);
        // Non-ASCII letters fold too when the locale knows them.
        EXPECT_EQ(CompareHeaderNames("\xC3\x84rger", "\xC3\xA4RGER"), 0);
        // Bytes that are not UTF-8 still compare, byte by byte.
        EXPECT_EQ(CompareHeaderNames("X\xFF", "x\xFF"), 0);
        EXPECT_NE(CompareHeaderNames("X\xFF", "x\xFE"), 0);
    }
}

#ifdef _WIN32
// On Windows names compare as the user's locale compares text with case ignored: the letters of
// the ANSI code page fold, and the order is the locale's (a hyphen weighs less than a letter).
TEST(ExStringList, WindowsNamesCompareByTheUsersLocale) {
    const auto sign = [](int v) { return v < 0 ? -1 : v > 0 ? 1 : 0; };
    const std::pair<const char*, const char*> pairs[] = {
        {"host", "HOST"}, {"Accept", "cookie"}, {"Referer", "host"}, {"\xC4rger", "\xE4RGER"},
        {"a-c", "ab"}, {"co-op", "coop"}, {"Host", "Hostx"}, {"\xC9tag", "etag"}};
    for (const auto& [a, b] : pairs) {
        SCOPED_TRACE(std::string(a) + " / " + b);
        const int system = CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a, -1, b, -1);
        ASSERT_NE(system, 0);
        EXPECT_EQ(sign(CompareHeaderNames(a, b)), system - CSTR_EQUAL);
    }
    EXPECT_EQ(CompareHeaderNames("\xC4rger", "\xE4RGER"), 0);
    EXPECT_GT(CompareHeaderNames("a-c", "ab"), 0);

    TExStringList l;
    l.Add("GET / HTTP/1.0");
    l.Add("\xE4rger: 1");
    EXPECT_EQ(l.IndexOfHeader("\xC4RGER"), 1);
}
#endif
