#pragma once
// The framework's error box as the program shows it: a modal box with the application title as
// caption, the stop icon and one "OK" button.
#include <string>

namespace qvl {

// Shows `text` (already finished by Application::ErrorBoxText) and returns when it is closed.
void ShowErrorBox(const std::string& text);

}  // namespace qvl
