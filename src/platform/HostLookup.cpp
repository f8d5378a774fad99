#include "platform/HostLookup.h"

// (The same on every platform: getaddrinfo is the system's resolver on all of them.)
#include "SystemSockets.h"

#include <atomic>
#include <cctype>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "framework/Text.h"
#include "platform/Detail.h"
#include "platform/Sockets.h"

namespace qvl::platform {
namespace {

// The live lookup of each target. A worker thread, when done, stores its addresses and posts
// its message only if its lookup is still the live one, and the message is tested again at
// delivery; a lookup given up in between is simply forgotten, addresses and all. The workers
// own nothing but their copy of the name, so a target destroyed meanwhile leaves them nothing
// to touch. Never destroyed: a worker may finish while the process exits.
struct Live {
    uint64_t handle = 0;
    bool delivered = false;               // its message has reached the target
    std::vector<SocketAddress> addresses;  // what it found, until taken
};

struct Lookups {
    std::mutex mutex;
    std::unordered_map<TargetId, Live> live;  // target -> its live lookup
    std::unordered_map<std::string, std::vector<SocketAddress>> answers;  // set by tests
    std::atomic<uint64_t> nextHandle{1};
    std::atomic<int> running{0};
};

Lookups& Registry() {
    static auto* lookups = new Lookups;
    return *lookups;
}

// RFC 6761: names under "invalid." never resolve, and the resolver answers so without asking
// anyone.
bool IsInvalidName(const std::string& name) {
    std::string n = AsciiLower(name);
    if (!n.empty() && n.back() == '.') n.pop_back();
    return n == "invalid" || (n.size() > 8 && n.compare(n.size() - 8, 8, ".invalid") == 0);
}

struct Answer {
    std::vector<SocketAddress> addresses;  // the resolver's order, duplicates dropped
    int error = 0;                         // Windows Sockets number
};

int LookupError(int rc) {
    switch (rc) {
    case EAI_NONAME: return kWsaHostNotFound;
    case EAI_AGAIN: return kWsaTryAgain;
#ifdef EAI_NODATA
    case EAI_NODATA: return kWsaNoData;
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY: return kWsaNoData;
#endif
    default: return kWsaNoRecovery;
    }
}

Answer Resolve(const std::string& name) {
    if (name.empty() || IsInvalidName(name)) return {{}, kWsaHostNotFound};
    {
        auto& registry = Registry();
        std::lock_guard lock(registry.mutex);
        const auto it = registry.answers.find(AsciiLower(name));
        if (it != registry.answers.end()) return {it->second, 0};
    }
    // Both families, in the order the resolver sorts them (RFC 6724): a host on ::1 only, or
    // one whose first address refuses, is still reached by trying the list in turn.
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    const int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &result);
    if (rc != 0) return {{}, LookupError(rc)};
    Answer answer;
    for (const addrinfo* a = result; a; a = a->ai_next) {
        const SocketAddress address = detail::FromHost(a->ai_addr);
        if (address.family == 0) continue;
        bool seen = false;
        for (const SocketAddress& earlier : answer.addresses) seen = seen || earlier == address;
        if (!seen) answer.addresses.push_back(address);
    }
    ::freeaddrinfo(result);
    if (answer.addresses.empty()) answer.error = kWsaNoData;
    return answer;
}

// Under the registry's lock: the live entry of `target` when it is lookup `handle`.
Live* LiveEntry(Lookups& registry, TargetId target, uint64_t handle) {
    const auto it = registry.live.find(target);
    return it != registry.live.end() && it->second.handle == handle ? &it->second : nullptr;
}

}  // namespace

uint64_t AsyncGetHostByName(TargetId target, unsigned msg, const std::string& name) {
    auto& registry = Registry();
    const uint64_t handle = registry.nextHandle++;
    {
        std::lock_guard lock(registry.mutex);
        registry.live[target] = Live{handle, false, {}};  // gives up an earlier lookup of this target
    }
    // Detached: getaddrinfo cannot be interrupted, and nobody needs to wait for a lookup that
    // was given up. The thread touches only its own copies and the never-destroyed registry.
    ++registry.running;
    std::thread([target, msg, handle, name, &registry] {
        Answer answer = Resolve(name);
        bool live = false;
        {
            std::lock_guard lock(registry.mutex);
            if (Live* entry = LiveEntry(registry, target, handle)) {
                entry->addresses = std::move(answer.addresses);
                live = true;
            }
        }
        if (live)
            detail::PostMessageIf(target, msg, static_cast<uintptr_t>(handle),
                                  MakeLParam(0, static_cast<unsigned>(answer.error)), [target, handle, &registry] {
                                      std::lock_guard lock(registry.mutex);
                                      Live* entry = LiveEntry(registry, target, handle);
                                      if (entry) entry->delivered = true;
                                      return entry != nullptr;
                                  });
        --registry.running;
    }).detach();
    return handle;
}

void CancelHostLookup(uint64_t handle) {
    auto& registry = Registry();
    std::lock_guard lock(registry.mutex);
    std::erase_if(registry.live, [handle](const auto& entry) { return entry.second.handle == handle; });
}

std::vector<SocketAddress> TakeHostLookupAddresses(uint64_t handle) {
    auto& registry = Registry();
    std::lock_guard lock(registry.mutex);
    for (auto it = registry.live.begin(); it != registry.live.end(); ++it) {
        if (it->second.handle != handle) continue;
        if (!it->second.delivered) return {};
        std::vector<SocketAddress> addresses = std::move(it->second.addresses);
        registry.live.erase(it);
        return addresses;
    }
    return {};
}

void SetHostLookupAnswerForTesting(const std::string& name, const std::vector<SocketAddress>& addresses) {
    auto& registry = Registry();
    std::lock_guard lock(registry.mutex);
    if (addresses.empty())
        registry.answers.erase(AsciiLower(name));
    else
        registry.answers[AsciiLower(name)] = addresses;
}

int RunningHostLookupsForTesting() { return Registry().running.load(); }

}  // namespace qvl::platform
