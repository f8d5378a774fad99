// The Win32 window's helper, Windows only (BoxWatcher is the Qt window's).
#ifdef _WIN32
#include "WinBoxWatcher.h"

#include <gtest/gtest.h>

namespace qvl::test {
namespace {

std::vector<SeenWinBox>* g_seen = nullptr;

std::string TextOf(HWND hwnd) {
    char text[1024] = {};
    GetWindowTextA(hwnd, text, sizeof text);
    return text;
}

std::string ClassOf(HWND hwnd) {
    char name[64] = {};
    GetClassNameA(hwnd, name, sizeof name);
    return name;
}

BOOL CALLBACK FindBox(HWND hwnd, LPARAM found) {
    if (ClassOf(hwnd) == "#32770" && IsWindowVisible(hwnd)) {
        *reinterpret_cast<HWND*>(found) = hwnd;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

WinBoxWatcher::WinBoxWatcher() {
    g_seen = &seen_;
    timer_ = SetTimer(nullptr, 0, 20, &Tick);
}

WinBoxWatcher::~WinBoxWatcher() {
    KillTimer(nullptr, timer_);
    g_seen = nullptr;
}

const SeenWinBox* WinBoxWatcher::OnlyOkBox(const std::string& title, const std::string& text) const {
    EXPECT_EQ(seen_.size(), 1u);
    if (seen_.size() != 1) return nullptr;
    EXPECT_EQ(seen_[0].title, title);
    EXPECT_EQ(seen_[0].text, text);
    EXPECT_EQ(seen_[0].buttons, std::vector<std::string>{"OK"});
    return &seen_[0];
}

void CALLBACK WinBoxWatcher::Tick(HWND, UINT, UINT_PTR, DWORD) {
    if (!g_seen) return;
    HWND box = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), &FindBox, reinterpret_cast<LPARAM>(&box));
    if (!box) return;
    SeenWinBox seen;
    seen.title = TextOf(box);
    seen.owner = GetWindow(box, GW_OWNER);
    seen.ownerEnabled = seen.owner && IsWindowEnabled(seen.owner);
    HWND firstButton = nullptr;
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        const std::string kind = ClassOf(child);
        if (kind == "Button" || kind == "BUTTON") {
            if (!IsWindowVisible(child)) continue;
            std::string label = TextOf(child);
            label.erase(std::remove(label.begin(), label.end(), '&'), label.end());
            seen.buttons.push_back(label);
            if (!firstButton) firstButton = child;
        } else if (kind == "Static" || kind == "STATIC") {
            if (SendMessageA(child, STM_GETICON, 0, 0) || (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
                if (IsWindowVisible(child) && SendMessageA(child, STM_GETICON, 0, 0)) seen.hasIcon = true;
            } else if (!TextOf(child).empty()) {
                seen.text = TextOf(child);
            }
        }
    }
    g_seen->push_back(seen);
    if (firstButton) SendMessageA(box, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(firstButton), BN_CLICKED),
                                  reinterpret_cast<LPARAM>(firstButton));
    else PostMessageA(box, WM_CLOSE, 0, 0);
}

}  // namespace qvl::test

#endif  // _WIN32
