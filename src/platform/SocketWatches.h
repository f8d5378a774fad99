#pragma once
// What each half of the socket service keeps per socket: a record by the socket's number, whose
// generation tells a notification queued for one registration from those of the next (a closed
// number is soon handed out again). The record type is the half's own; it has at least
// `generation` and `selected`. GUI thread only, as the notifications it checks.
#include <cstdint>
#include <unordered_map>

namespace qvl::platform::detail {

template <class Watch>
class SocketWatches {
public:
    Watch* Find(int s) {
        const auto it = watches_.find(s);
        return it == watches_.end() ? nullptr : &it->second;
    }

    // The socket's record, made empty when there is none.
    Watch& operator[](int s) { return watches_[s]; }

    // A fresh record for a socket that was just created or registered anew: whatever was known
    // of an earlier socket with the same number is forgotten, and its queued notifications with it.
    Watch& Fresh(int s) {
        Watch& w = watches_[s];
        w = Watch{};
        w.generation = NextGeneration();
        return w;
    }

    uint64_t NextGeneration() { return ++generation_; }

    // Whether a notification queued under `generation` still belongs to the socket's current,
    // selected registration.
    bool StillCurrent(int s, uint64_t generation) {
        const Watch* w = Find(s);
        return w && w->selected && w->generation == generation;
    }

    void Erase(int s) { watches_.erase(s); }

private:
    std::unordered_map<int, Watch> watches_;
    uint64_t generation_ = 0;
};

}  // namespace qvl::platform::detail
