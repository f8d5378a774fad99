// Socket error numbers become the engine's texts and exceptions; "would block" and the small
// numbers are not errors.
#include <gtest/gtest.h>

#include "EngineTestSupport.h"
#include "net/socket/SocketEngine.h"
#include "platform/Sockets.h"

namespace qvl {
namespace {

TEST(SocketErrorText, TableEntriesUnknownNumbersAndZero) {
    EXPECT_EQ(SocketErrorText(10061), "10061:Connection refused");
    EXPECT_EQ(SocketErrorText(11001), "11001:Host not found");
    EXPECT_EQ(SocketErrorText(10004), "10004:Interrupted system call");
    EXPECT_EQ(SocketErrorText(10047), "10047:Address family not supported by protocol family");
    EXPECT_EQ(SocketErrorText(10065), "10065:No route to Host");
    EXPECT_EQ(SocketErrorText(11003), "11003:Non-Recoverable error: FORMERR, REFUSED, NOTIMP");
    EXPECT_EQ(SocketErrorText(11004), "11004:Valid name, no data record of requested type");
    EXPECT_EQ(SocketErrorText(10101), "Unknown Error No. 10101");
    EXPECT_EQ(SocketErrorText(10072), "Unknown Error No. 10072");
    EXPECT_EQ(SocketErrorText(0), "");
}

TEST(CheckSocketError, WouldBlockAndSmallNumbersPassQuietly) {
    TSocketEngine engine;
    int fired = 0;
    engine.OnSocketError = [&](TObject*, uint16_t, const std::string&) { ++fired; };
    for (int err : {10035, 10000, 0, 5}) {
        platform::SetLastSocketError(err);
        EXPECT_NO_THROW(engine.CheckSocketError(10035)) << err;
        EXPECT_EQ(engine.LastErrorNo, err);
    }
    EXPECT_EQ(fired, 0);
}

TEST(CheckSocketError, RaisesNumberedTextAfterOnSocketError) {
    TSocketEngine engine;
    engine.ReportLevel = 8;
    enginetest::StatusLog log;
    log.Attach(engine);
    std::vector<std::pair<uint16_t, std::string>> events;
    engine.OnSocketError = [&](TObject* sender, uint16_t no, const std::string& text) {
        EXPECT_EQ(sender, &engine);
        events.emplace_back(no, text);
    };

    platform::SetLastSocketError(10061);
    try {
        engine.CheckSocketError(10035);
        FAIL() << "no exception";
    } catch (const ESockError& e) {
        EXPECT_EQ(e.Message(), "10061:Connection refused");
        EXPECT_EQ(e.ErrorNo(), 10061);
    }
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].first, 10061);
    EXPECT_EQ(events[0].second, "10061:Connection refused");
    EXPECT_EQ(engine.LastErrorNo, 10061);
    EXPECT_EQ(log.texts.back(), "Looking Up Error Message");

    platform::SetLastSocketError(10101);
    EXPECT_THROW(
        {
            try {
                engine.CheckSocketError(10035);
            } catch (const ESockError& e) {
                EXPECT_EQ(e.Message(), "Unknown Error No. 10101");
                EXPECT_EQ(e.ErrorNo(), 10101);
                throw;
            }
        },
        ESockError);
}

TEST(CheckSocketError, HandlerExceptionReplacesTheSocketError) {
    TSocketEngine engine;
    engine.OnSocketError = [](TObject*, uint16_t, const std::string&) {
        throw Exception("from the handler");
    };
    platform::SetLastSocketError(10054);
    try {
        engine.CheckSocketError(10035);
        FAIL() << "no exception";
    } catch (const ESockError&) {
        FAIL() << "the handler's exception should have replaced it";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "from the handler");
    }
}

TEST(GetErrorMessage, ReportsWithIncomingTextAndFillsTheMessage) {
    TSocketEngine engine;
    engine.ReportLevel = 8;
    enginetest::StatusLog log;
    log.Attach(engine);
    std::string message = " for 10060";
    engine.GetErrorMessage(10060, message);
    EXPECT_EQ(message, "10060:Connection timed out");
    EXPECT_EQ(log.texts.back(), "Looking Up Error Message for 10060");
    engine.GetErrorMessage(0, message);
    EXPECT_EQ(message, "");
}

}  // namespace
}  // namespace qvl
