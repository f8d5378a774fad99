#include "platform/AppInstance.h"

#include "platform/windows/Win32.h"

namespace qvl::platform {

// The thread's message queue exists from its first window on; nothing has to be set up for it.
// What the instance does is keep the system from stopping the program with a dialog box of its
// own (a drive without a medium, a missing file): a program that may run unattended reports
// such failures itself.
struct AppInstance::Impl {
    UINT previousMode = 0;
};

AppInstance::AppInstance(int&, char**) : impl_(std::make_unique<Impl>()) {
    impl_->previousMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
}

AppInstance::~AppInstance() { SetErrorMode(impl_->previousMode); }

}  // namespace qvl::platform
