#include "net/socket/NotifyWindow.h"

#include "net/socket/SocketEngine.h"
#include "platform/Sockets.h"

namespace qvl {

std::unique_ptr<platform::MessageTarget> CreateNotifyWindow(TSocketEngine* owner) {
    return std::make_unique<platform::MessageTarget>([owner](const platform::Message& message) {
        // Messages below the socket event number are the target's own business; there is
        // nothing to do for them.
        if (owner != nullptr && message.msg >= platform::kSocketEventMessage) {
            owner->HandleNotification(message);
        }
    });
}

}  // namespace qvl
