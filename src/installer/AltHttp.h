#pragma once
// The window's second HTTP component. It never transfers anything; what it does is hold its
// stored request settings and keep the platform's socket service started while it exists.
#include <cstdint>
#include <string>

#include "framework/Component.h"

namespace qvl {

class TAltHTTP : public TComponent {
public:
    struct TRequest {
        std::string Accept = "text/html, */*";
        int64_t ContentLength = 0;
        int64_t ContentRangeStart = 0;
        int64_t ContentRangeEnd = 0;
        int ProxyPort = 0;
        std::string UserAgent = "Mozilla/3.0 (compatible; Quorvale Setup)";
    };

    // The first instance starts the socket service (version 1.1); it stays started until the
    // last instance is destroyed. Raises Exception "Cannot start the socket service (error N)"
    // when the platform refuses.
    explicit TAltHTTP(TComponent* owner = nullptr);
    ~TAltHTTP() override;

    // How many instances hold the socket service.
    static int Instances();

    TRequest Request;
    int Port = 80;
    int RedirectMaximum = 15;
    bool HandleRedirects = false;
    std::string ProtocolVersion = "1.1";
    int RecvBufferSize = 32768;
    int SendBufferSize = 32768;
};

}  // namespace qvl
