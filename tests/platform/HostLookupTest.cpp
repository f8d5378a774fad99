// Host lookups on real getaddrinfo: the result travels inside the completion message, and a
// lookup that was given up (target destroyed, replaced, cancelled) delivers nothing and touches
// nothing freed (this file is meant to run under AddressSanitizer too).
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "platform/HostLookup.h"
#include "platform/MessageTarget.h"
#include "platform/Sockets.h"
#include "support/PumpUntil.h"
#include "support/SocketApi.h"
#include "support/Wait.h"

using namespace qvl::platform;
using qvl::test::PumpUntil;

namespace {

struct Recorder {
    std::vector<Message> messages;
    MessageTarget target{[this](const Message& m) { messages.push_back(m); }};
};

// Waits until every worker has finished, then delivers whatever they queued.
void SettleLookups() {
    ASSERT_TRUE(PumpUntil([] { return RunningHostLookupsForTesting() == 0; }, 30000));
    qvl::test::PumpFor(20);
}

}  // namespace

TEST(HostLookup, LocalhostIsTheLoopbackAddress) {
    Recorder r;
    const uint64_t handle = AsyncGetHostByName(r.target.Id(), kLookupDoneMessage, "localhost");
    EXPECT_NE(handle, 0u);
    ASSERT_TRUE(PumpUntil([&] { return !r.messages.empty(); }, 30000));
    ASSERT_EQ(r.messages.size(), 1u);
    EXPECT_EQ(r.messages[0].msg, kLookupDoneMessage);
    EXPECT_EQ(HiWord(r.messages[0].lParam), 0u);
    EXPECT_EQ(r.messages[0].wParam, htonl(INADDR_LOOPBACK));
}

TEST(HostLookup, ANameThatCannotExistIsHostNotFound) {
    Recorder r;
    AsyncGetHostByName(r.target.Id(), kLookupDoneMessage, "no-such-host.invalid");
    ASSERT_TRUE(PumpUntil([&] { return !r.messages.empty(); }, 30000));
    EXPECT_EQ(HiWord(r.messages[0].lParam), static_cast<unsigned>(kWsaHostNotFound));
    EXPECT_EQ(r.messages[0].wParam, 0u);

    r.messages.clear();
    AsyncGetHostByName(r.target.Id(), kLookupDoneMessage, "");
    ASSERT_TRUE(PumpUntil([&] { return !r.messages.empty(); }, 30000));
    EXPECT_EQ(HiWord(r.messages[0].lParam), static_cast<unsigned>(kWsaHostNotFound));
}

TEST(HostLookup, ALookupWhoseTargetIsDestroyedDeliversNothing) {
    // The handler's state lives on the heap and dies with the target: a late completion that
    // reached it would be a use after free.
    auto state = std::make_unique<std::vector<Message>>();
    auto target = std::make_unique<MessageTarget>([seen = state.get()](const Message& m) { seen->push_back(m); });
    for (int i = 0; i < 5; ++i) AsyncGetHostByName(target->Id(), kLookupDoneMessage, "localhost");
    target.reset();
    state.reset();
    Recorder witness;
    AsyncGetHostByName(witness.target.Id(), kLookupDoneMessage, "localhost");
    SettleLookups();
    EXPECT_EQ(witness.messages.size(), 1u);
}

TEST(HostLookup, AReplacedOrCancelledLookupDeliversNothing) {
    Recorder r;
    AsyncGetHostByName(r.target.Id(), kLookupDoneMessage, "localhost");
    AsyncGetHostByName(r.target.Id(), kLookupDoneMessage, "127.0.0.2");  // replaces the first
    SettleLookups();
    ASSERT_EQ(r.messages.size(), 1u);
    EXPECT_EQ(r.messages[0].wParam, InetAddr("127.0.0.2"));

    r.messages.clear();
    CancelHostLookup(AsyncGetHostByName(r.target.Id(), kLookupDoneMessage, "localhost"));
    SettleLookups();
    EXPECT_TRUE(r.messages.empty());
}

TEST(HostLookup, ACompletionQueuedBeforeTheLookupIsGivenUpIsDroppedToo) {
    Recorder r;
    const uint64_t handle = AsyncGetHostByName(r.target.Id(), kLookupDoneMessage, "localhost");
    // Let the worker finish and queue its message, but do not dispatch it yet.
    ASSERT_TRUE(qvl::test::WaitUntil([] { return RunningHostLookupsForTesting() == 0; }, std::chrono::seconds(30)));
    CancelHostLookup(handle);
    qvl::test::PumpFor(20);
    EXPECT_TRUE(r.messages.empty());
}
