// Known-answer tests of the URL encoder and the Base64/uuencode processor.
#include <gtest/gtest.h>

#include <string>

#include "framework/MemoryStream.h"
#include "net/http/UUProcessor.h"
#include "net/http/UrlEncoder.h"

using namespace qvl;

namespace {

std::string Encode(const std::string& source, UUMethods method, std::string targetStart = "") {
    TMemoryStream in(source), out;
    out.WriteBuffer(targetStart.data(), static_cast<int64_t>(targetStart.size()));
    TUUProcessor p;
    p.Method = method;
    p.SourceStream = &in;
    p.TargetStream = &out;
    p.EncodeStream();
    EXPECT_EQ(out.Position(), 0);
    EXPECT_EQ(in.Position(), in.Size());
    return out.Data();
}

std::string Bytes(int from, int count) {
    std::string s;
    for (int i = 0; i < count; ++i) s += static_cast<char>(from + i);
    return s;
}

}  // namespace

TEST(UrlEncoder, KeepsLettersAndDigitsAndEncodesEverythingElse) {
    TUrlEncoder e;
    EXPECT_EQ(e.EncodeText(""), "");
    EXPECT_EQ(e.EncodeText("a b"), "a+b");
    EXPECT_EQ(e.EncodeText("a+b"), "a%2Bb");
    EXPECT_EQ(e.EncodeText("name=value&n2=v2"), "name%3Dvalue%26n2%3Dv2");
    EXPECT_EQ(e.EncodeText("\r\n"), "%0D%0A");
    EXPECT_EQ(e.EncodeText(std::string("x\0y", 3)), "x%00y");
    EXPECT_EQ(e.EncodeText("-_.~*/:"), "%2D%5F%2E%7E%2A%2F%3A");
    EXPECT_EQ(e.EncodeText("\xC3\xA4\xFF"), "%C3%A4%FF");
    EXPECT_EQ(e.EncodeText("AZaz09"), "AZaz09");
    EXPECT_EQ(e.EncodeText("a b&c"), "a+b%26c");
    e.InputString = "a=b";
    EXPECT_EQ(e.EncodeInput(), "a%3Db");
}

TEST(UUProcessor, Rfc4648Base64Vectors) {
    EXPECT_EQ(Encode("", UUMethods::uuMime), "");
    EXPECT_EQ(Encode("f", UUMethods::uuMime), "Zg==\r\n");
    EXPECT_EQ(Encode("fo", UUMethods::uuMime), "Zm8=\r\n");
    EXPECT_EQ(Encode("foo", UUMethods::uuMime), "Zm9v\r\n");
    EXPECT_EQ(Encode("foob", UUMethods::uuMime), "Zm9vYg==\r\n");
    EXPECT_EQ(Encode("fooba", UUMethods::uuMime), "Zm9vYmE=\r\n");
    EXPECT_EQ(Encode("foobar", UUMethods::uuMime), "Zm9vYmFy\r\n");
    EXPECT_EQ(Encode("abc", UUMethods::uuMime), "YWJj\r\n");
    EXPECT_EQ(Encode("\xFF\xFE\xFD", UUMethods::uuMime), "//79\r\n");
}

TEST(UUProcessor, Base64BreaksLinesEvery45Bytes) {
    const std::string line45 = "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKiss";
    ASSERT_EQ(line45.size(), 60u);
    EXPECT_EQ(Encode(Bytes(0, 45), UUMethods::uuMime), line45 + "\r\n");
    EXPECT_EQ(Encode(Bytes(0, 46), UUMethods::uuMime), line45 + "\r\nLQ==\r\n");
    EXPECT_EQ(Encode(Bytes(0, 90), UUMethods::uuMime).size(), 2u * 62u);
}

TEST(UUProcessor, UuencodeLinesWithLengthCharacterAndClosingLine) {
    const std::string line45 = "M``$\"`P0%!@<(\"0H+#`T.#Q`1$A,4%187&!D:&QP='A\\@(2(C)\"4F)R@I*BLL";
    ASSERT_EQ(line45.size(), 61u);
    EXPECT_EQ(Encode(Bytes(0, 45), UUMethods::uuCode), line45 + "\r\n`\r\n");
    // A short last group is written without filler: "!" (1 byte), then two characters.
    EXPECT_EQ(Encode(Bytes(0, 46), UUMethods::uuCode), line45 + "\r\n!+0\r\n`\r\n");
    EXPECT_EQ(Encode("Cat", UUMethods::uuCode), "#0V%T\r\n`\r\n");
    EXPECT_EQ(Encode("\xFF\xFE", UUMethods::uuCode), "\"__X\r\n`\r\n");
    EXPECT_EQ(Encode("", UUMethods::uuCode), "`\r\n");
}

TEST(UUProcessor, WritesBehindWhatTheTargetHoldsAndRaisesItsEvents) {
    EXPECT_EQ(Encode("foo", UUMethods::uuMime, "head:"), "head:Zm9v\r\n");

    TMemoryStream in(std::string("foo")), out;
    TUUProcessor p;
    std::string events;
    p.OnBeginEncode = [&](TObject* s) {
        EXPECT_EQ(s, &p);
        events += "begin(" + std::to_string(out.Size()) + ")";
    };
    p.OnEndEncode = [&](TObject* s) {
        EXPECT_EQ(s, &p);
        events += "end(" + std::to_string(out.Position()) + ")";
    };
    p.SourceStream = &in;
    p.TargetStream = &out;
    in.SetPosition(3);  // encoding starts from the beginning whatever the position
    p.EncodeStream();
    EXPECT_EQ(events, "begin(0)end(0)");
    EXPECT_EQ(out.Data(), "Zm9v\r\n");
}

namespace {

// A target that refuses every write, as a full disk would.
class FullStream : public TMemoryStream {
public:
    int64_t Write(const void*, int64_t) override { return 0; }
};

// A source that claims more bytes than it ever delivers.
class LyingStream : public TMemoryStream {
public:
    using TMemoryStream::TMemoryStream;
    int64_t Size() override { return 1000; }
};

}  // namespace

TEST(UUProcessor, StreamErrorsPassAfterTheEndEvent) {
    TMemoryStream in(std::string("foo"));
    FullStream out;
    TUUProcessor p;
    int ends = 0;
    p.OnEndEncode = [&](TObject*) { ++ends; };
    p.SourceStream = &in;
    p.TargetStream = &out;
    EXPECT_THROW(p.EncodeStream(), EWriteError);
    EXPECT_EQ(ends, 1);

    // An error from the begin event leaves at once: no end event.
    TMemoryStream target;
    p.TargetStream = &target;
    p.OnBeginEncode = [](TObject*) { throw Exception("stop"); };
    EXPECT_THROW(p.EncodeStream(), Exception);
    EXPECT_EQ(ends, 1);
    EXPECT_EQ(target.Size(), 0);
}

TEST(UUProcessor, EndsWhenTheSourceDeliversNothing) {
    LyingStream in(std::string("abc"));
    TMemoryStream out;
    TUUProcessor p;
    p.SourceStream = &in;
    p.TargetStream = &out;
    p.EncodeStream();
    EXPECT_EQ(out.Data(), "YWJj\r\n");
}
