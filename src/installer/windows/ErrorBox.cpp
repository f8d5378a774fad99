#include "installer/ErrorBox.h"

#include "platform/windows/Win32.h"

#include "framework/Application.h"

namespace qvl {

// Owned by the program's active window, so that it is modal to it; with none, modal to the task.
void ShowErrorBox(const std::string& text) {
    HWND owner = ::GetActiveWindow();
    ::MessageBoxA(owner, text.c_str(), Application::Title().c_str(),
                  MB_OK | MB_ICONSTOP | (owner ? 0u : static_cast<UINT>(MB_TASKMODAL)));
}

}  // namespace qvl
