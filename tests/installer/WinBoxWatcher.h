#pragma once
// A watcher that answers the next modal message box of the Win32 window: a timer of the calling
// thread fires inside the box's own message loop, records what the box shows and presses its
// first button, so that a test that opens a box is never left waiting on it.
#include "platform/windows/Win32.h"

#include <algorithm>
#include <string>
#include <vector>

namespace qvl::test {

struct SeenWinBox {
    std::string title, text;
    std::vector<std::string> buttons;
    bool hasIcon = false;
    HWND owner = nullptr;
    bool ownerEnabled = true;  // while the box was up
};

class WinBoxWatcher {
public:
    WinBoxWatcher();
    ~WinBoxWatcher();
    WinBoxWatcher(const WinBoxWatcher&) = delete;
    WinBoxWatcher& operator=(const WinBoxWatcher&) = delete;
    const std::vector<SeenWinBox>& Seen() const { return seen_; }
    // Checks that it saw one box, with `title`, `text` and one OK button, and returns that box;
    // nullptr (the failure recorded) when it saw none or several.
    const SeenWinBox* OnlyOkBox(const std::string& title, const std::string& text) const;

private:
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD);
    UINT_PTR timer_ = 0;
    std::vector<SeenWinBox> seen_;
};

}  // namespace qvl::test
