#include "platform/AppInstance.h"

#include <QCoreApplication>

namespace qvl::platform {

// Message targets, notifiers and timers live on the Qt event loop.
struct AppInstance::Impl {
    Impl(int& argc, char** argv) : app(argc, argv) {}
    QCoreApplication app;
};

AppInstance::AppInstance(int& argc, char** argv) : impl_(std::make_unique<Impl>(argc, argv)) {}

AppInstance::~AppInstance() = default;

}  // namespace qvl::platform
