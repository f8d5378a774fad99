#include "installer/ViewApplication.h"

#include "platform/windows/Win32.h"

#include <commctrl.h>

#include "platform/AppInstance.h"

namespace qvl {

struct ViewApplication::Impl {
    Impl(int& argc, char** argv) : instance(argc, argv) {}
    platform::AppInstance instance;
};

ViewApplication::ViewApplication(int& argc, char** argv, bool /*unattended*/)
    : impl_(std::make_unique<Impl>(argc, argv)) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);
}

ViewApplication::~ViewApplication() = default;

int ViewApplication::Exec() {
    MSG msg;
    while (::GetMessageA(&msg, nullptr, 0, 0) > 0) {
        // Tab and the arrow keys move the focus between the controls of a window whose
        // controls take part in it (the installer's window).
        HWND root = msg.hwnd ? ::GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
        if (root && (::GetWindowLongPtrA(root, GWL_EXSTYLE) & WS_EX_CONTROLPARENT) && ::IsDialogMessageA(root, &msg))
            continue;
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
    }
    return static_cast<int>(msg.wParam);
}

void ViewApplication::Quit() { ::PostQuitMessage(0); }

}  // namespace qvl
