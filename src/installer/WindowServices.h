#pragma once
// What the installer logic needs of its window: the log, the caption, the progress bar, the two
// choices and a message box. The logic reaches the window only through this interface, so the
// same logic runs against the real window and against a recording stand-in.
#include <cstdint>
#include <string>

namespace qvl {

// Message box flags and results, with the values of the platform the installer came from.
constexpr unsigned kMbOk = 0x0, kMbOkCancel = 0x1, kMbAbortRetryIgnore = 0x2, kMbYesNoCancel = 0x3,
                   kMbYesNo = 0x4, kMbRetryCancel = 0x5;
constexpr unsigned kMbIconHand = 0x10, kMbIconQuestion = 0x20, kMbIconExclamation = 0x30,
                   kMbIconAsterisk = 0x40;
constexpr int kIdOk = 1, kIdCancel = 2, kIdAbort = 3, kIdRetry = 4, kIdIgnore = 5, kIdYes = 6,
              kIdNo = 7;

class WindowServices {
public:
    virtual ~WindowServices() = default;

    // Removes all text from the log.
    virtual void ClearLog() = 0;
    // Adds `text` as the new last line of the log and scrolls so that it is in view.
    virtual void AppendLog(const std::string& text) = 0;
    // Sets the window's caption.
    virtual void SetTitle(const std::string& text) = 0;

    // Shows or hides the progress bar; the panel around it stays.
    virtual void SetProgressVisible(bool visible) = 0;
    // Sets the bar's maximum (the minimum stays 0); the position is clamped into the new range.
    // Setting the current maximum again changes nothing. Raises ERangeError
    // "TProgressBar property out of range" for a value below 0, leaving the bar as it was.
    virtual void SetProgressMax(int32_t value) = 0;
    // Sets the bar's position, clamped into 0..maximum.
    virtual void SetProgressPosition(int32_t value) = 0;
    virtual int32_t GetProgressMax() = 0;
    virtual int32_t GetProgressPosition() = 0;

    // Whether "program" / "blockchain" is ticked at the moment of the call.
    virtual bool IsProgramTicked() = 0;
    virtual bool IsBlockchainTicked() = 0;

    // A modal message box owned by the window; returns when the user has closed it, with the
    // button pressed (kIdOk ...). Flags 0: one "OK" button, no icon.
    virtual int ShowMessageBox(const std::string& text, const std::string& caption, unsigned flags) = 0;
};

}  // namespace qvl
