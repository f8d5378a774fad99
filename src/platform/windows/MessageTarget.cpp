#include "platform/MessageTarget.h"

#include <memory>
#include <mutex>
#include <set>
#include <unordered_map>
#include <vector>

#include "framework/Application.h"
#include "framework/Exception.h"
#include "platform/windows/Detail.h"

namespace qvl::platform {
namespace {

const char kSocketClassName[] = "SocketWindowClass";
const char kTimerClassName[] = "TmrWindowClass";

// Messages that our PostMessage queues travel inside this one: lParam points to an Envelope
// that the queue owns until the window procedure (or the purge of a destroyed target) frees it.
constexpr UINT kEnvelopeMessage = WM_APP + 1;

// More than this many messages in one ProcessMessages means handlers keep posting; the rest
// waits for the next turn, so a waiting loop still gets to test its flags.
constexpr int kMaxMessagesPerTurn = 10000;

struct Envelope {
    Message message;
    std::function<bool()> stillWanted;
};

// What the window procedure needs of one target. It outlives its MessageTarget only while the
// target's own handler is still running.
struct TargetObject {
    TargetId id = 0;
    HWND hwnd = nullptr;
    MessageTarget::Handler handler;
    bool alive = true;
    int depth = 0;              // handlers of this target currently running (nested dispatch)
    std::set<unsigned> timers;  // running timer ids

    void Deliver(const Message& message) {
        ++depth;
        // Our handlers do not throw; should one do so anyway, it must not unwind through the
        // system's dispatch, so it is shown as any other failure of the program would be.
        Application::Guarded([&] {
            if (handler) handler(message);
        });
        --depth;
    }
};

// Targets by id, for PostMessage from any thread. Never destroyed, so a worker thread that posts
// while the process exits finds it intact.
struct Registry {
    std::mutex mutex;
    std::unordered_map<TargetId, HWND> windows;
    TargetId nextId = 1;
};

Registry& Targets() {
    static auto* registry = new Registry;
    return *registry;
}

// Targets destroyed while their handler was running, freed once it has returned. GUI thread only.
std::vector<std::unique_ptr<TargetObject>>& Zombies() {
    static auto* zombies = new std::vector<std::unique_ptr<TargetObject>>;
    return *zombies;
}

void FreeZombies() {
    std::erase_if(Zombies(), [](const std::unique_ptr<TargetObject>& z) { return z->depth == 0; });
}

LRESULT HandleMessage(TargetObject* object, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == kEnvelopeMessage) {
        std::unique_ptr<Envelope> envelope(reinterpret_cast<Envelope*>(lParam));
        // The test runs even for a target that is gone, so that whoever asked for it can forget
        // what it kept for this message.
        const bool wanted = !envelope->stillWanted || envelope->stillWanted();
        if (object && object->alive && wanted) object->Deliver(envelope->message);
        return 0;
    }
    if (!object || !object->alive) return DefWindowProcA(hwnd, msg, wParam, lParam);
    if (msg == WM_TIMER) {
        if (object->timers.count(static_cast<unsigned>(wParam)))
            object->Deliver(Message{kTimerMessage, static_cast<uintptr_t>(wParam), 0});
        return 0;
    }
    // Everything our own code posts comes in an envelope, so a message from the user range
    // is one the socket service posted for a registered socket.
    if (msg >= WM_USER && msg < WM_APP) {
        const auto s = static_cast<uintptr_t>(wParam);
        if (detail::SocketEventWanted(object->id, msg, s) && detail::EventWanted(s, LoWord(lParam)))
            object->Deliver(Message{msg, static_cast<uintptr_t>(wParam), static_cast<intptr_t>(lParam)});
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

// The one entry from the system's dispatch into our code: nothing may unwind through it.
LRESULT CALLBACK WindowProcedure(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    try {
        auto* object = reinterpret_cast<TargetObject*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
        return HandleMessage(object, hwnd, msg, wParam, lParam);
    } catch (...) {
        Application::ShowException(std::current_exception());
        return 0;
    }
}

void RegisterWindowClass() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (const char* name : {kSocketClassName, kTimerClassName}) {
            WNDCLASSA windowClass{};
            windowClass.lpfnWndProc = WindowProcedure;
            windowClass.hInstance = GetModuleHandleA(nullptr);
            windowClass.lpszClassName = name;
            // A failure shows as CreateWindowExA failing, which is checked.
            RegisterClassA(&windowClass);
        }
    });
}

// Takes every message still queued for a window that is going away, freeing the envelopes.
void DropQueuedMessages(HWND hwnd) {
    MSG m;
    while (PeekMessageA(&m, hwnd, 0, 0, PM_REMOVE | PM_NOYIELD)) {
        if (m.message == kEnvelopeMessage) {
            std::unique_ptr<Envelope> envelope(reinterpret_cast<Envelope*>(m.lParam));
            if (envelope->stillWanted) envelope->stillWanted();
        }
    }
}

}  // namespace

struct MessageTarget::Impl {
    std::unique_ptr<TargetObject> object;
};

MessageTarget::MessageTarget(Handler handler, Kind kind) : impl_(std::make_unique<Impl>()) {
    RegisterWindowClass();
    impl_->object = std::make_unique<TargetObject>();
    TargetObject* object = impl_->object.get();
    object->handler = std::move(handler);
    // Message-only: it gets every posted message and timer, needs no display, and is never shown.
    object->hwnd = CreateWindowExA(0, kind == Kind::Timer ? kTimerClassName : kSocketClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                   GetModuleHandleA(nullptr), nullptr);
    if (!object->hwnd)
        throw Exception("Cannot create a message window: error " + std::to_string(GetLastError()));
    SetWindowLongPtrA(object->hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(object));
    auto& registry = Targets();
    std::lock_guard lock(registry.mutex);
    object->id = registry.nextId++;
    registry.windows.emplace(object->id, object->hwnd);
}

MessageTarget::~MessageTarget() {
    TargetObject* object = impl_->object.get();
    {
        auto& registry = Targets();
        std::lock_guard lock(registry.mutex);
        registry.windows.erase(object->id);
    }
    // From here on nothing more is posted to the window by our code; what is queued goes.
    object->alive = false;
    for (unsigned id : object->timers) ::KillTimer(object->hwnd, id);
    object->timers.clear();
    SetWindowLongPtrA(object->hwnd, GWLP_USERDATA, 0);
    DropQueuedMessages(object->hwnd);
    DestroyWindow(object->hwnd);
    // If its handler is running (the owner is being destroyed from inside it), the object must
    // survive until that returns.
    if (object->depth > 0) Zombies().push_back(std::move(impl_->object));
    impl_->object.reset();
    FreeZombies();
}

TargetId MessageTarget::Id() const { return impl_->object->id; }

bool MessageTarget::SetTimer(unsigned id, unsigned intervalMs) {
    if (intervalMs == 0 || intervalMs > static_cast<unsigned>(INT32_MAX)) return false;
    TargetObject* object = impl_->object.get();
    // SetTimer with the id of a running timer restarts it with the new interval.
    if (::SetTimer(object->hwnd, id, intervalMs, nullptr) == 0) {
        object->timers.erase(id);
        return false;
    }
    object->timers.insert(id);
    return true;
}

void MessageTarget::KillTimer(unsigned id) {
    TargetObject* object = impl_->object.get();
    if (!object->timers.erase(id)) return;
    ::KillTimer(object->hwnd, id);
}

namespace detail {

void PostMessageIf(TargetId target, unsigned msg, uintptr_t wParam, intptr_t lParam,
                   std::function<bool()> stillWanted) {
    auto& registry = Targets();
    // Posting under the lock keeps the target from being destroyed half-way through.
    std::lock_guard lock(registry.mutex);
    const auto it = registry.windows.find(target);
    if (it == registry.windows.end()) return;
    auto envelope = std::make_unique<Envelope>(Envelope{Message{msg, wParam, lParam}, std::move(stillWanted)});
    if (PostMessageA(it->second, kEnvelopeMessage, 0, reinterpret_cast<LPARAM>(envelope.get())))
        envelope.release();  // the queue owns it now
}

HWND TargetWindow(TargetId target) {
    auto& registry = Targets();
    std::lock_guard lock(registry.mutex);
    const auto it = registry.windows.find(target);
    return it == registry.windows.end() ? nullptr : it->second;
}

}  // namespace detail

void PostMessage(TargetId target, unsigned msg, uintptr_t wParam, intptr_t lParam) {
    detail::PostMessageIf(target, msg, wParam, lParam, nullptr);
}

void ProcessMessages() {
    MSG m;
    for (int n = 0; n < kMaxMessagesPerTurn && PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE); ++n) {
        if (m.message == WM_QUIT) {
            // Not ours to act on; left for whoever runs the outer loop.
            PostQuitMessage(static_cast<int>(m.wParam));
            break;
        }
        TranslateMessage(&m);
        DispatchMessageA(&m);
    }
    FreeZombies();
}

void Sleep(unsigned ms) { ::Sleep(ms); }

}  // namespace qvl::platform
