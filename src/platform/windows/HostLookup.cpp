#include "platform/HostLookup.h"

#include <atomic>
#include <cctype>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "platform/windows/Detail.h"
#include "platform/Sockets.h"

namespace qvl::platform {
namespace {

// The live lookup of each target. A worker thread, when done, posts its result only if its
// lookup is still the live one, and the message is tested again at delivery; a lookup given up
// in between is simply forgotten. The workers own nothing but their copy of the name, so a
// target destroyed meanwhile leaves them nothing to touch. Never destroyed: a worker may finish
// while the process exits.
struct Lookups {
    std::mutex mutex;
    std::unordered_map<TargetId, uint64_t> live;  // target -> handle of its live lookup
    std::atomic<uint64_t> nextHandle{1};
    std::atomic<int> running{0};
};

Lookups& Registry() {
    static auto* lookups = new Lookups;
    return *lookups;
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// RFC 6761: names under "invalid." never resolve, and the resolver answers so without asking
// anyone.
bool IsInvalidName(const std::string& name) {
    std::string n = Lower(name);
    if (!n.empty() && n.back() == '.') n.pop_back();
    return n == "invalid" || (n.size() > 8 && n.compare(n.size() - 8, 8, ".invalid") == 0);
}

// (first IPv4 address in network byte order, Windows Sockets error)
std::pair<uint32_t, int> Resolve(const std::string& name) {
    if (name.empty() || IsInvalidName(name)) return {0, kWsaHostNotFound};
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    const int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &result);
    if (rc != 0) {
        // The service's lookup errors are its own numbers already.
        switch (rc) {
        case WSAHOST_NOT_FOUND: return {0, kWsaHostNotFound};
        case WSATRY_AGAIN: return {0, kWsaTryAgain};
        case WSANO_DATA: return {0, kWsaNoData};
        default: return {0, kWsaNoRecovery};
        }
    }
    uint32_t address = 0;
    for (const addrinfo* a = result; a; a = a->ai_next)
        if (a->ai_family == AF_INET) {
            address = reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr.s_addr;
            break;
        }
    ::freeaddrinfo(result);
    if (address == 0) return {0, kWsaNoData};
    return {address, 0};
}

// True, and the lookup forgotten, when `handle` is still the live lookup of `target`.
bool TakeIfLive(TargetId target, uint64_t handle) {
    auto& registry = Registry();
    std::lock_guard lock(registry.mutex);
    const auto it = registry.live.find(target);
    if (it == registry.live.end() || it->second != handle) return false;
    registry.live.erase(it);
    return true;
}

bool IsLive(TargetId target, uint64_t handle) {
    auto& registry = Registry();
    std::lock_guard lock(registry.mutex);
    const auto it = registry.live.find(target);
    return it != registry.live.end() && it->second == handle;
}

}  // namespace

uint64_t AsyncGetHostByName(TargetId target, unsigned msg, const std::string& name) {
    auto& registry = Registry();
    const uint64_t handle = registry.nextHandle++;
    {
        std::lock_guard lock(registry.mutex);
        registry.live[target] = handle;  // gives up an earlier lookup of this target
    }
    // Detached: getaddrinfo cannot be interrupted, and nobody needs to wait for a lookup that
    // was given up. The thread touches only its own copies and the never-destroyed registry.
    ++registry.running;
    std::thread([target, msg, handle, name, &registry] {
        const auto [address, error] = Resolve(name);
        if (IsLive(target, handle))
            detail::PostMessageIf(target, msg, address, MakeLParam(0, static_cast<unsigned>(error)),
                                  [target, handle] { return TakeIfLive(target, handle); });
        --registry.running;
    }).detach();
    return handle;
}

void CancelHostLookup(uint64_t handle) {
    auto& registry = Registry();
    std::lock_guard lock(registry.mutex);
    std::erase_if(registry.live, [handle](const auto& entry) { return entry.second == handle; });
}

int RunningHostLookupsForTesting() { return Registry().running.load(); }

}  // namespace qvl::platform
