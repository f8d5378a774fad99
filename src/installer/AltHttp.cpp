#include "installer/AltHttp.h"

#include "framework/Exception.h"
#include "platform/Sockets.h"

namespace qvl {
namespace {

int instances = 0;

}  // namespace

TAltHTTP::TAltHTTP(TComponent* owner) : TComponent(owner) {
    if (instances == 0) {
        platform::SocketServiceInfo info;
        const int error = platform::StartupSockets(0x0101, &info);
        if (error != 0)
            throw Exception("Cannot start the socket service (error " + std::to_string(error) + ")");
    }
    ++instances;
}

TAltHTTP::~TAltHTTP() {
    if (--instances == 0) platform::CleanupSockets();
}

int TAltHTTP::Instances() { return instances; }

}  // namespace qvl
