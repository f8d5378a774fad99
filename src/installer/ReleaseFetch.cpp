#include "installer/ReleaseFetch.h"

#include "framework/Exception.h"

namespace qvl {

std::optional<std::string> ReleaseFetch::FetchBounded(const THttpClient& like, const std::string& url,
                                                      size_t maxSize, std::string& why) {
    const std::string name = url.substr(url.rfind('/') + 1);
    THttpClient client;
    client.Proxy = like.Proxy;
    client.ProxyPort = like.ProxyPort;
    client.TimeOut = like.TimeOut;
    client.InputFileMode = false;
    client.OutputFileMode = false;
    bool succeeded = false;
    bool tooLarge = false;
    const auto limit = static_cast<int64_t>(maxSize);
    client.OnSuccess = [&](CmdType) { succeeded = true; };
    client.OnFailure = [&](CmdType) { succeeded = false; };
    client.OnPacketRecvd = [&](TObject*) {
        if (tooLarge) return;
        if (client.BytesRecvd > limit || (client.ContentLengthSeen && client.BytesTotal > limit)) {
            tooLarge = true;
            client.Abort();
        }
    };
    try {
        client.Get(url);
    } catch (const Exception& e) {
        why = tooLarge ? name + " is larger than " + std::to_string(maxSize) + " bytes"
                       : name + " could not be fetched: " + e.Message();
        return std::nullopt;
    }
    if (tooLarge) {
        why = name + " is larger than " + std::to_string(maxSize) + " bytes";
        return std::nullopt;
    }
    if (!succeeded) {
        why = name + " could not be fetched (status " + std::to_string(client.ReplyCode) + ")";
        return std::nullopt;
    }
    return std::move(client.Body);
}

std::optional<ReleaseList> ReleaseFetch::Load(const std::vector<platform::P256PublicKey>& keys, const std::string& baseurl,
                                              const THttpClient& like, std::string& why) {
    const std::optional<std::string> list = FetchBounded(like, baseurl + kListName, ReleaseList::kMaxSize, why);
    if (!list) return std::nullopt;
    const std::optional<std::string> signature =
        FetchBounded(like, baseurl + kSignatureName, ReleaseList::kMaxSize, why);
    if (!signature) return std::nullopt;
    return ReleaseList::Verified(keys, *list, *signature, why);
}

}  // namespace qvl
