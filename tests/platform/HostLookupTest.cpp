// Host lookups on real getaddrinfo: the result travels inside the completion message, and a
// lookup that was given up (target destroyed, replaced, cancelled) delivers nothing and touches
// nothing freed (this file is meant to run under AddressSanitizer too).
#include <algorithm>
#include <memory>
#include <string>
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

// Takes the addresses when the message is delivered, as the engine's handler does.
struct Recorder {
    std::vector<Message> messages;
    std::vector<std::vector<SocketAddress>> found;
    MessageTarget target{[this](const Message& m) {
        messages.push_back(m);
        found.push_back(TakeHostLookupAddresses(m.wParam));
    }};
};

SocketAddress Ipv6Loopback() {
    SocketAddress a;
    a.family = kAfInet6;
    a.bytes[15] = 1;
    return a;
}

// What getaddrinfo itself answers for `name`, both families, in its order.
std::vector<std::string> ResolverOrder(const char* name) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    std::vector<std::string> texts;
    if (::getaddrinfo(name, nullptr, &hints, &result) != 0) return texts;
    for (const addrinfo* a = result; a; a = a->ai_next) {
        char text[INET6_ADDRSTRLEN] = {};
        const void* bytes = a->ai_family == AF_INET6
                                ? static_cast<const void*>(&reinterpret_cast<const sockaddr_in6*>(a->ai_addr)->sin6_addr)
                                : static_cast<const void*>(&reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr);
        ::inet_ntop(a->ai_family, bytes, text, sizeof text);
        if (std::find(texts.begin(), texts.end(), text) == texts.end()) texts.emplace_back(text);
    }
    ::freeaddrinfo(result);
    return texts;
}

std::vector<std::string> Texts(const std::vector<SocketAddress>& addresses) {
    std::vector<std::string> texts;
    for (const SocketAddress& a : addresses) texts.push_back(AddressText(a));
    return texts;
}

// Waits until every worker has finished, then delivers whatever they queued.
void SettleLookups() {
    ASSERT_TRUE(PumpUntil([] { return RunningHostLookupsForTesting() == 0; }, 30000));
    qvl::test::PumpFor(20);
}

}  // namespace

TEST(HostLookup, ANameGivesEveryAddressOfBothFamiliesInTheResolversOrder) {
    Recorder r;
    const uint64_t handle = AsyncGetHostByName(r.target.Id(), kLookupDoneMessage, "localhost");
    EXPECT_NE(handle, 0u);
    ASSERT_TRUE(PumpUntil([&] { return !r.messages.empty(); }, 30000));
    ASSERT_EQ(r.messages.size(), 1u);
    EXPECT_EQ(r.messages[0].msg, kLookupDoneMessage);
    EXPECT_EQ(r.messages[0].wParam, handle);
    EXPECT_EQ(HiWord(r.messages[0].lParam), 0u);
    // Whatever this machine's hosts file says (127.0.0.1 alone, or ::1 too), in its order.
    EXPECT_EQ(Texts(r.found[0]), ResolverOrder("localhost"));
    EXPECT_NE(std::find(r.found[0].begin(), r.found[0].end(), Ipv4Address(htonl(INADDR_LOOPBACK))), r.found[0].end());
    EXPECT_TRUE(TakeHostLookupAddresses(handle).empty()) << "taken once";

    // An IPv6 literal looked up is its own address, whether or not the host has IPv6.
    AsyncGetHostByName(r.target.Id(), kLookupDoneMessage, "::1");
    ASSERT_TRUE(PumpUntil([&] { return r.messages.size() == 2; }, 30000));
    EXPECT_EQ(HiWord(r.messages[1].lParam), 0u);
    EXPECT_EQ(r.found[1], std::vector<SocketAddress>{Ipv6Loopback()});
}

TEST(HostLookup, ATestAnswerReplacesTheResolverForThatNameOnly) {
    const std::vector<SocketAddress> answer{Ipv6Loopback(), Ipv4Address(InetAddr("127.0.0.2")),
                                            Ipv4Address(InetAddr("127.0.0.1"))};
    SetHostLookupAnswerForTesting("Dual.Test", answer);
    Recorder r;
    AsyncGetHostByName(r.target.Id(), kLookupDoneMessage, "dual.test");
    ASSERT_TRUE(PumpUntil([&] { return r.messages.size() == 1; }, 30000));
    EXPECT_EQ(HiWord(r.messages[0].lParam), 0u);
    EXPECT_EQ(r.found[0], answer);

    SetHostLookupAnswerForTesting("dual.test", {});
    AsyncGetHostByName(r.target.Id(), kLookupDoneMessage, "dual.test");
    ASSERT_TRUE(PumpUntil([&] { return r.messages.size() == 2; }, 30000));
    EXPECT_NE(HiWord(r.messages[1].lParam), 0u);
    EXPECT_TRUE(r.found[1].empty());
}

TEST(HostLookup, ANameThatCannotExistIsHostNotFound) {
    Recorder r;
    AsyncGetHostByName(r.target.Id(), kLookupDoneMessage, "no-such-host.invalid");
    ASSERT_TRUE(PumpUntil([&] { return !r.messages.empty(); }, 30000));
    EXPECT_EQ(HiWord(r.messages[0].lParam), static_cast<unsigned>(kWsaHostNotFound));
    EXPECT_TRUE(r.found[0].empty());

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
    EXPECT_EQ(r.found[0], std::vector<SocketAddress>{Ipv4Address(InetAddr("127.0.0.2"))});

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
    EXPECT_TRUE(TakeHostLookupAddresses(handle).empty());
}
