#pragma once
// TUUProcessor: encodes the bytes of one stream as text lines into another, as Base64 (MIME,
// RFC 2045) or as uuencoded lines. Only encoding exists; the decode events are declared for
// completeness and never raised.
#include "framework/Component.h"
#include "framework/Stream.h"

namespace qvl {

enum class UUMethods : unsigned char { uuMime = 0, uuCode = 1 };

class TUUProcessor : public TComponent {
public:
    explicit TUUProcessor(TComponent* owner = nullptr) : TComponent(owner) {}

    UUMethods Method = UUMethods::uuMime;
    TNotifyEvent OnBeginEncode;
    TNotifyEvent OnEndEncode;
    TNotifyEvent OnBeginDecode;
    TNotifyEvent OnEndDecode;

    // Not owned; set both before EncodeStream.
    TStream* SourceStream = nullptr;
    TStream* TargetStream = nullptr;

    // Encodes all of SourceStream (from position 0) into TargetStream from its current
    // position, one line per 45 source bytes, each ended by CR LF.
    //   uuMime: Base64, the last group filled with "="; an empty source writes nothing.
    //   uuCode: a length character, then the groups, without filler; then a closing line of
    //           "`" CR LF (an empty source writes only that).
    // Afterwards TargetStream is at position 0 and OnEndEncode has fired, also when a stream
    // error is passing (it then continues to the caller). An exception from OnBeginEncode leaves
    // at once, before anything is written and without OnEndEncode.
    void EncodeStream();

private:
    char alphabet_[64] = {};
};

}  // namespace qvl
