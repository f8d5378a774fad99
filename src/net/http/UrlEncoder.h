#pragma once
// TUrlEncoder: turns a text into the form of URL query strings and form data. Letters and digits
// stay, a blank becomes "+", every other byte becomes "%" and two upper-case hexadecimal digits.
// Only encoding exists.
#include <functional>
#include <string>

#include "framework/Component.h"

namespace qvl {

// Reports a failure: who reports it, what was being done, and the error's message.
using TOnErrorEvent =
    std::function<void(TObject* Sender, const std::string& Operation, const std::string& ErrMsg)>;

class TUrlEncoder : public TComponent {
public:
    explicit TUrlEncoder(TComponent* owner = nullptr) : TComponent(owner) {}

    std::string InputString;
    TOnErrorEvent OnError;

    // The encoding of InputString.
    std::string EncodeInput() { return EncodeText(InputString); }

    // The encoding of `text`. The whole text is one value: "=", "&", "-", "." and every other
    // punctuation byte are encoded too. Never throws: when encoding fails (out of memory),
    // OnError is called with Operation "Error during encode" and the text comes back unchanged.
    std::string EncodeText(const std::string& text);
};

}  // namespace qvl
