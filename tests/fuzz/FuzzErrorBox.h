#pragma once
// An error box while fuzzing means an exception reached the message loop: a finding, so the
// harness stops there and shows the box's text.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "framework/Application.h"

namespace qvl::fuzz {

inline void AbortOnErrorBox() {
    Application::SetExceptionDisplay([](const std::string& text) {
        std::fprintf(stderr, "error box during fuzzing: %s\n", text.c_str());
        std::abort();
    });
}

}  // namespace qvl::fuzz
