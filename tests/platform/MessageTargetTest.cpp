// Message targets, timers and the two dispatch primitives, on the platform's real message loop.
#include <atomic>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "framework/Application.h"
#include "framework/Exception.h"
#include "platform/MessageTarget.h"
#include "support/PumpUntil.h"

using namespace qvl::platform;
using qvl::test::PumpFor;
using qvl::test::PumpUntil;

namespace {

constexpr unsigned kTestMessage = 1200;

// A target that records what it receives, and on which thread (the tests run on the GUI thread,
// where the recorder is made).
struct Recorder {
    std::vector<Message> messages;
    bool allOnGuiThread = true;
    std::thread::id guiThread = std::this_thread::get_id();
    MessageTarget target{[this](const Message& m) {
        allOnGuiThread = allOnGuiThread && std::this_thread::get_id() == guiThread;
        messages.push_back(m);
    }};
    size_t Count(unsigned msg) const {
        size_t n = 0;
        for (const auto& m : messages) n += m.msg == msg ? 1 : 0;
        return n;
    }
};

long long MillisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

TEST(MessageTarget, IdsAreDistinctAndNeverZero) {
    Recorder a, b;
    EXPECT_NE(a.target.Id(), 0u);
    EXPECT_NE(a.target.Id(), b.target.Id());
    const TargetId old = a.target.Id();
    auto c = std::make_unique<Recorder>();
    const TargetId gone = c->target.Id();
    c.reset();
    Recorder d;
    EXPECT_NE(d.target.Id(), gone);
    EXPECT_NE(d.target.Id(), old);
}

TEST(MessageTarget, MessagesPostedFromOtherThreadsArriveInOrderOnTheGuiThread) {
    Recorder r;
    const TargetId id = r.target.Id();
    constexpr int kCount = 200;
    std::thread poster([id] {
        for (int i = 0; i < kCount; ++i) PostMessage(id, kTestMessage, static_cast<uintptr_t>(i), -i);
    });
    ASSERT_TRUE(PumpUntil([&] { return r.messages.size() == kCount; }, 10000));
    poster.join();
    EXPECT_TRUE(r.allOnGuiThread);
    for (int i = 0; i < kCount; ++i) {
        EXPECT_EQ(r.messages[i].msg, kTestMessage);
        EXPECT_EQ(r.messages[i].wParam, static_cast<uintptr_t>(i));
        EXPECT_EQ(r.messages[i].lParam, -i);
    }
}

TEST(MessageTarget, ProcessMessagesDeliversWhatIsAlreadyQueuedInOneCall) {
    Recorder r;
    for (int i = 0; i < 3; ++i) PostMessage(r.target.Id(), kTestMessage, 0, 0);
    EXPECT_TRUE(r.messages.empty());  // nothing runs before dispatch
    ProcessMessages();
    EXPECT_EQ(r.messages.size(), 3u);
}

TEST(MessageTarget, MessagesForAGoneTargetAreDropped) {
    int delivered = 0;
    auto target = std::make_unique<MessageTarget>([&](const Message&) { ++delivered; });
    const TargetId id = target->Id();
    PostMessage(id, kTestMessage, 1, 0);  // queued while the target lives
    target.reset();
    PostMessage(id, kTestMessage, 2, 0);  // posted after it is gone
    PostMessage(0, kTestMessage, 3, 0);   // no target at all
    Recorder witness;                     // proves that dispatch did run
    PostMessage(witness.target.Id(), kTestMessage, 0, 0);
    ASSERT_TRUE(PumpUntil([&] { return witness.messages.size() == 1; }, 5000));
    EXPECT_EQ(delivered, 0);
}

TEST(MessageTarget, ATargetMayBeDestroyedFromInsideItsOwnHandler) {
    std::unique_ptr<MessageTarget> target;
    int delivered = 0;
    std::string handlerState = "x";
    target = std::make_unique<MessageTarget>([&, captured = std::string("still here")](const Message&) {
        ++delivered;
        target.reset();  // the owner goes away while this handler runs
        handlerState = captured;  // the handler's own state must still be intact
    });
    const TargetId id = target->Id();
    PostMessage(id, kTestMessage, 0, 0);
    PostMessage(id, kTestMessage, 0, 0);  // must not arrive: the target is gone by then
    Recorder witness;
    PostMessage(witness.target.Id(), kTestMessage, 0, 0);
    ASSERT_TRUE(PumpUntil([&] { return witness.messages.size() == 1; }, 5000));
    EXPECT_EQ(delivered, 1);
    EXPECT_EQ(handlerState, "still here");
    EXPECT_EQ(target, nullptr);
}

TEST(MessageTarget, AThrowingHandlerIsReportedAndDispatchGoesOn) {
    std::vector<std::string> shown;
    qvl::Application::SetExceptionDisplay([&](const std::string& text) { shown.push_back(text); });
    int calls = 0;
    MessageTarget target([&](const Message&) {
        ++calls;
        throw qvl::Exception("handler failed");
    });
    PostMessage(target.Id(), kTestMessage, 0, 0);
    PostMessage(target.Id(), kTestMessage, 0, 0);
    const bool done = PumpUntil([&] { return calls == 2; }, 5000);
    qvl::Application::SetExceptionDisplay(nullptr);
    ASSERT_TRUE(done);
    EXPECT_EQ(shown, (std::vector<std::string>{"handler failed.", "handler failed."}));
}

TEST(Timers, FirePeriodicallyDuringDispatchUntilKilled) {
    Recorder r;
    ASSERT_TRUE(r.target.SetTimer(1, 10));
    ASSERT_TRUE(PumpUntil([&] { return r.Count(kTimerMessage) >= 3; }, 5000));
    for (const auto& m : r.messages) EXPECT_EQ(m.wParam, 1u);
    r.target.KillTimer(1);
    const size_t fired = r.Count(kTimerMessage);
    PumpFor(60);  // six periods: a live timer would have fired again
    EXPECT_EQ(r.Count(kTimerMessage), fired);
    r.target.KillTimer(1);  // harmless twice
    r.target.KillTimer(7);  // and for a timer that never ran
}

TEST(Timers, TwoTimersOfOneTargetAreTellApartAndIntervalZeroIsRefused) {
    Recorder r;
    EXPECT_FALSE(r.target.SetTimer(1, 0));
    ASSERT_TRUE(r.target.SetTimer(1, 10));
    ASSERT_TRUE(r.target.SetTimer(2, 15));
    ASSERT_TRUE(PumpUntil([&] {
        size_t one = 0, two = 0;
        for (const auto& m : r.messages) (m.wParam == 1 ? one : two) += 1;
        return one >= 2 && two >= 2;
    }, 5000));
    // Restarting timer 1 with a long interval replaces its period: it stays silent from now on.
    ASSERT_TRUE(r.target.SetTimer(1, 100000));
    r.target.KillTimer(2);
    r.messages.clear();
    PumpFor(50);
    EXPECT_TRUE(r.messages.empty());
}

TEST(Timers, DestroyingTheTargetStopsItsTimers) {
    int fired = 0;
    auto target = std::make_unique<MessageTarget>([&](const Message&) { ++fired; });
    ASSERT_TRUE(target->SetTimer(1, 5));
    ASSERT_TRUE(PumpUntil([&] { return fired >= 1; }, 5000));
    target.reset();
    const int before = fired;
    PumpFor(40);
    EXPECT_EQ(fired, before);
}

TEST(WaitForSocketOrMessage, ReturnsAtItsBoundWhenNothingHappensAndEarlyForAMessage) {
    // Nothing to do: it blocks (a stray event of Qt's own may end one wait early, but it never
    // spins) and comes back once the bound has passed.
    auto start = std::chrono::steady_clock::now();
    WaitForSocketOrMessage(-1, 150);
    EXPECT_LT(MillisecondsSince(start), 150 + 2000);
    EXPECT_LT(PumpFor(150), 20);

    // A message posted from another thread during the wait ends it at once and is delivered.
    Recorder r;
    const TargetId id = r.target.Id();
    std::thread poster([id] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));  // pacing: let the wait begin
        PostMessage(id, kTestMessage, 0, 0);
    });
    start = std::chrono::steady_clock::now();
    for (int turn = 0; turn < 10 && r.messages.empty(); ++turn) WaitForSocketOrMessage(-1, 20000);
    const long long woken = MillisecondsSince(start);
    poster.join();
    EXPECT_EQ(r.messages.size(), 1u);
    EXPECT_LT(woken, 10000);
}
