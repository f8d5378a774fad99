#include "platform/TextCompare.h"

#include <cctype>
#include <clocale>
#include <cstring>
#include <cwchar>
#include <cwctype>

namespace qvl::platform {
namespace {

// Folds one NUL-free piece to lower case as wide text, the locale's own case mapping applying
// to every character it knows; false when the piece is not valid multibyte text in the current
// locale.
bool FoldWide(const std::string& piece, std::wstring& out) {
    out.clear();
    std::mbstate_t state{};
    const char* p = piece.data();
    size_t left = piece.size();
    while (left > 0) {
        wchar_t wc = 0;
        const size_t n = std::mbrtowc(&wc, p, left, &state);
        if (n == static_cast<size_t>(-1) || n == static_cast<size_t>(-2) || n == 0) return false;
        out += static_cast<wchar_t>(std::towlower(static_cast<wint_t>(wc)));
        p += n;
        left -= n;
    }
    return true;
}

std::string FoldBytes(const std::string& piece) {
    std::string out = piece;
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

int Sign(int v) { return v < 0 ? -1 : v > 0 ? 1 : 0; }

}  // namespace

// Collation of the case-folded texts. Bytes that are not valid in the locale's encoding are
// folded byte by byte and compared by the narrow collation.
int CompareTextIgnoringCase(const std::string& a, const std::string& b) {
    std::wstring wa, wb;
    if (FoldWide(a, wa) && FoldWide(b, wb)) {
        if (wa == wb) return 0;
        const int c = Sign(std::wcscoll(wa.c_str(), wb.c_str()));
        // A collation may rank distinct texts equal; keep them apart so that "equal" means
        // the same name.
        return c != 0 ? c : (wa < wb ? -1 : 1);
    }
    const std::string fa = FoldBytes(a), fb = FoldBytes(b);
    if (fa == fb) return 0;
    const int c = Sign(std::strcoll(fa.c_str(), fb.c_str()));
    return c != 0 ? c : (fa < fb ? -1 : 1);
}

}  // namespace qvl::platform
