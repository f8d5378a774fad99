#pragma once
// The application object: its title, the standard error box, and the one guard through which
// every entry from the message loop (Qt's event loop on Linux, the Win32 message loop on
// Windows) into our code passes, so that no exception crosses it.
#include <exception>
#include <functional>
#include <string>

namespace qvl {

class Application {
public:
    // Shows an error box's text; installed by the program (a modal box) or by tests (a recorder).
    using ExceptionDisplay = std::function<void(const std::string& text)>;

    static void SetTitle(const std::string& title);
    static const std::string& Title();

    static void SetExceptionDisplay(ExceptionDisplay display);

    // The error box's text for a message: the message, plus "." when it is not empty and its
    // last byte is greater than "." (so "...\" and "...x" get a full stop, "..." and "... " do not).
    static std::string ErrorBoxText(const std::string& message);

    // The message of an exception as the error box shows it: an Exception's message, or the
    // empty message for anything else.
    static std::string MessageOf(const std::exception_ptr& error);

    // Shows the exception in the error box (through the installed display). Never throws.
    static void ShowException(const std::exception_ptr& error) noexcept;

    // Runs `body`; an exception leaving it is shown in the error box and swallowed.
    // Returns false when one was. Use at every entry from the message loop (a Qt slot or event, a
    // window procedure, a timer, a posted message).
    template <class F>
    static bool Guarded(F&& body) noexcept {
        return Caught(body, [] { ShowException(std::current_exception()); });
    }

    // Runs `body`; an exception leaving it is dropped without a word (notification handling).
    template <class F>
    static bool Swallowed(F&& body) noexcept {
        return Caught(body, [] {});
    }

private:
    // Runs `body`; when an exception leaves it, runs `onException` (which must not throw) while
    // it is handled, and returns false.
    template <class F, class G>
    static bool Caught(F& body, G onException) noexcept {
        try {
            body();
            return true;
        } catch (...) {
            onException();
            return false;
        }
    }
};

}  // namespace qvl
