#include "net/http/UUProcessor.h"

#include <string>

namespace qvl {

namespace {

constexpr int kBytesPerLine = 45;

}  // namespace

void TUUProcessor::EncodeStream() {
    SourceStream->SetPosition(0);
    if (OnBeginEncode) OnBeginEncode(this);

    try {
        const bool mime = Method == UUMethods::uuMime;
        if (mime) {
            static constexpr char kBase64[] =
                "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
            for (int i = 0; i < 64; ++i) alphabet_[i] = kBase64[i];
        } else {
            // The grave accent stands for 0 so that no line carries a trailing blank.
            alphabet_[0] = '`';
            for (int i = 1; i < 64; ++i) alphabet_[i] = static_cast<char>(32 + i);
        }

        unsigned char in[kBytesPerLine];
        std::string line;
        while (SourceStream->Position() < SourceStream->Size()) {
            const int n = static_cast<int>(SourceStream->Read(in, kBytesPerLine));
            // A stream that reports more than it delivers must not keep us here.
            if (n <= 0) break;
            line.clear();
            if (!mime) line += alphabet_[n];
            int i = 0;
            for (; i + 3 <= n; i += 3) {
                const unsigned b0 = in[i], b1 = in[i + 1], b2 = in[i + 2];
                line += alphabet_[b0 >> 2];
                line += alphabet_[((b0 & 0x03) << 4) | (b1 >> 4)];
                line += alphabet_[((b1 & 0x0F) << 2) | (b2 >> 6)];
                line += alphabet_[b2 & 0x3F];
            }
            if (n - i == 1) {
                const unsigned b0 = in[i];
                line += alphabet_[b0 >> 2];
                line += alphabet_[(b0 & 0x03) << 4];
                if (mime) line += "==";
            } else if (n - i == 2) {
                const unsigned b0 = in[i], b1 = in[i + 1];
                line += alphabet_[b0 >> 2];
                line += alphabet_[((b0 & 0x03) << 4) | (b1 >> 4)];
                line += alphabet_[(b1 & 0x0F) << 2];
                if (mime) line += "=";
            }
            line += "\r\n";
            TargetStream->WriteBuffer(line.data(), static_cast<int64_t>(line.size()));
        }
        if (!mime) {
            const char closing[3] = {alphabet_[0], '\r', '\n'};
            TargetStream->WriteBuffer(closing, 3);
        }
    } catch (...) {
        // The stream's error goes on to the caller once the target is rewound and the end
        // event has run; an error from those two must not replace it.
        try {
            TargetStream->SetPosition(0);
            if (OnEndEncode) OnEndEncode(this);
        } catch (...) {
        }
        throw;
    }
    TargetStream->SetPosition(0);
    if (OnEndEncode) OnEndEncode(this);
}

}  // namespace qvl
