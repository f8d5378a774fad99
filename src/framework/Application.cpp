#include "framework/Application.h"

#include <cstdio>

#include "framework/Exception.h"

namespace qvl {
namespace {

std::string& TitleStore() {
    static std::string title;
    return title;
}

Application::ExceptionDisplay& DisplayStore() {
    static Application::ExceptionDisplay display;
    return display;
}

}  // namespace

void Application::SetTitle(const std::string& title) { TitleStore() = title; }

const std::string& Application::Title() { return TitleStore(); }

void Application::SetExceptionDisplay(ExceptionDisplay display) { DisplayStore() = std::move(display); }

std::string Application::ErrorBoxText(const std::string& message) {
    if (!message.empty() && static_cast<unsigned char>(message.back()) > static_cast<unsigned char>('.'))
        return message + ".";
    return message;
}

std::string Application::MessageOf(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const Exception& e) {
        return e.Message();
    } catch (...) {
        return std::string();
    }
}

void Application::ShowException(const std::exception_ptr& error) noexcept {
    try {
        const std::string text = ErrorBoxText(MessageOf(error));
        if (DisplayStore()) DisplayStore()(text);
        else std::fprintf(stderr, "%s: %s\n", Title().c_str(), text.c_str());
    } catch (...) {
        // The display itself failed; there is nowhere left to report it.
    }
}

}  // namespace qvl
