#pragma once
// Comparison of text with letter case ignored, as the platform's locale orders text.
#include <string>

namespace qvl::platform {

// Compares two texts that hold no NUL byte; negative, zero or positive like strcmp. Windows:
// the user's default locale with case ignored (CompareStringA, NORM_IGNORECASE). Elsewhere:
// the current C locale (LC_CTYPE folds case, LC_COLLATE orders), bytes that are not valid in
// its encoding folded and compared one by one, and texts that differ once folded never
// compare equal.
int CompareTextIgnoringCase(const std::string& a, const std::string& b);

}  // namespace qvl::platform
