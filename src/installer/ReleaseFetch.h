#pragma once
// Fetching the signed release manifest at the start of a run: RELEASE and RELEASE.sig from
// the download server, into memory, each at most ReleaseList::kMaxSize bytes, with an HTTP
// client of its own (so that the window's client, its progress lines and its outcome handlers
// see only the downloads), set like the window's client (proxy, time-out).
#include <optional>
#include <string>

#include "installer/ReleaseList.h"
#include "net/http/HttpClient.h"

namespace qvl {

class ReleaseFetch {
public:
    static constexpr const char* kListName = "RELEASE";
    static constexpr const char* kSignatureName = "RELEASE.sig";

    // The verified manifest, or nullopt with `why` saying what failed (a file that could not be
    // fetched, one over the size bound, a signature by none of `keys`, a malformed manifest).
    // Never throws but for allocation: every failure of the fetch is a reason.
    static std::optional<ReleaseList> Load(const std::vector<platform::P256PublicKey>& keys, const std::string& baseurl,
                                           const THttpClient& like, std::string& why);

    // The body of `url`, or nullopt with `why`. At most `maxSize` bytes are accepted: a larger
    // announced length, or more bytes than that, ends the transfer.
    static std::optional<std::string> FetchBounded(const THttpClient& like, const std::string& url,
                                                   size_t maxSize, std::string& why);
};

}  // namespace qvl
