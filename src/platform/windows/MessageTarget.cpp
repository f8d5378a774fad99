#include "platform/MessageTarget.h"

#include <memory>
#include <mutex>
#include <set>

#include "framework/Application.h"
#include "framework/Exception.h"
#include "platform/MessageTargetCore.h"
#include "platform/windows/Detail.h"

namespace qvl::platform {
namespace {

// The hidden windows' classes: the socket engine's notification windows and the timers'.
constexpr char kNotifyClassName[] = "SocketWindowClass";
constexpr char kTimerClassName[] = "TmrWindowClass";

// Messages that our PostMessage queues travel inside this one: lParam points to an Envelope
// that the queue owns until the window procedure (or the purge of a destroyed target) frees it.
constexpr UINT kEnvelopeMessage = WM_APP + 1;

// More than this many messages in one ProcessMessages means handlers keep posting; the rest
// waits for the next turn, so a waiting loop still gets to test its flags.
constexpr int kMaxMessagesPerTurn = 10000;

using detail::Envelope;

// The window of one target.
class TargetObject : public detail::TargetCore {
public:
    TargetObject(MessageTarget::Handler handler, const char* className);

    HWND hwnd = nullptr;
    std::set<unsigned> timers;  // running timer ids

    void Queue(Envelope envelope) override;
    bool StartTimer(unsigned id, unsigned intervalMs) override;
    void StopTimer(unsigned id) override;
    void Detach() override;
};

LRESULT HandleMessage(TargetObject* object, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == kEnvelopeMessage) {
        const std::unique_ptr<Envelope> envelope(reinterpret_cast<Envelope*>(lParam));
        TargetObject::Receive(object, *envelope);
        return 0;
    }
    if (!object || !object->Alive()) return DefWindowProcA(hwnd, msg, wParam, lParam);
    if (msg == WM_TIMER) {
        if (object->timers.count(static_cast<unsigned>(wParam)))
            object->Deliver(Message{kTimerMessage, static_cast<uintptr_t>(wParam), 0});
        return 0;
    }
    // Everything our own code posts comes in an envelope, so a message from the user range
    // is one the socket service posted for a registered socket.
    if (msg >= WM_USER && msg < WM_APP) {
        const auto s = static_cast<uintptr_t>(wParam);
        if (detail::SocketEventWanted(object->Id(), msg, s) && detail::EventWanted(s, LoWord(lParam)))
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

// Both classes share one window procedure: what a target does is its handler's business.
void RegisterWindowClasses() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (const char* name : {kNotifyClassName, kTimerClassName}) {
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
            const std::unique_ptr<Envelope> envelope(reinterpret_cast<Envelope*>(m.lParam));
            TargetObject::Drop(*envelope);
        }
    }
}

TargetObject::TargetObject(MessageTarget::Handler handler, const char* className)
    : TargetCore(std::move(handler)) {
    RegisterWindowClasses();
    // Message-only: it gets every posted message and timer, needs no display, and is never shown.
    hwnd = CreateWindowExA(0, className, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleA(nullptr),
                           nullptr);
    if (!hwnd) throw Exception("Cannot create a message window: error " + std::to_string(GetLastError()));
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

void TargetObject::Queue(Envelope envelope) {
    auto queued = std::make_unique<Envelope>(std::move(envelope));
    if (PostMessageA(hwnd, kEnvelopeMessage, 0, reinterpret_cast<LPARAM>(queued.get())))
        queued.release();  // the queue owns it now
}

bool TargetObject::StartTimer(unsigned id, unsigned intervalMs) {
    // SetTimer with the id of a running timer restarts it with the new interval.
    if (::SetTimer(hwnd, id, intervalMs, nullptr) == 0) {
        timers.erase(id);
        return false;
    }
    timers.insert(id);
    return true;
}

void TargetObject::StopTimer(unsigned id) {
    if (!timers.erase(id)) return;
    ::KillTimer(hwnd, id);
}

void TargetObject::Detach() {
    for (unsigned id : timers) ::KillTimer(hwnd, id);
    timers.clear();
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
    DropQueuedMessages(hwnd);
    DestroyWindow(hwnd);
}

}  // namespace

namespace detail {

std::unique_ptr<TargetCore> MakeNativeTarget(MessageTarget::Handler handler, TargetKind kind) {
    return std::make_unique<TargetObject>(std::move(handler),
                                          kind == TargetKind::Timer ? kTimerClassName : kNotifyClassName);
}

HWND TargetWindow(TargetId target) {
    HWND hwnd = nullptr;
    WithTarget(target, [&](TargetCore& core) { hwnd = static_cast<TargetObject&>(core).hwnd; });
    return hwnd;
}

}  // namespace detail

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
    detail::FreeRetiredTargets();
}

void Sleep(unsigned ms) { ::Sleep(ms); }

}  // namespace qvl::platform
