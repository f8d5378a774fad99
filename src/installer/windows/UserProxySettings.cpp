#include "installer/UserProxySettings.h"

#include "platform/windows/Win32.h"
#include <winhttp.h>

namespace qvl {
namespace {

std::string Narrow(const wchar_t* text) {
    if (!text) return std::string();
    const int n = ::WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return std::string();
    std::string out(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, text, -1, out.data(), n, nullptr, nullptr);
    out.resize(static_cast<size_t>(n - 1));
    return out;
}

// The strings of the answer belong to the caller, who frees them with GlobalFree.
struct ProxyConfig {
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config{};
    ~ProxyConfig() {
        for (LPWSTR text : {config.lpszAutoConfigUrl, config.lpszProxy, config.lpszProxyBypass})
            if (text) ::GlobalFree(text);
    }
};

}  // namespace

std::optional<UserProxySettings> ReadUserProxySettings() {
    ProxyConfig answer;
    if (!::WinHttpGetIEProxyConfigForCurrentUser(&answer.config)) return std::nullopt;
    UserProxySettings settings{Narrow(answer.config.lpszProxy), Narrow(answer.config.lpszProxyBypass)};
    if (settings.proxy.empty()) return std::nullopt;
    return settings;
}

}  // namespace qvl
