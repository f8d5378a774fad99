#pragma once
// The process's application object: what message targets, timers and socket notifications need
// to exist on the GUI thread (the thread that creates it). Programs and test mains below the
// window create one first thing and keep it until they return; a program with a window creates
// the window system's own application object instead.
#include <memory>

namespace qvl::platform {

class AppInstance {
public:
    // `argc` and `argv` must outlive the instance (main's own do).
    AppInstance(int& argc, char** argv);
    ~AppInstance();
    AppInstance(const AppInstance&) = delete;
    AppInstance& operator=(const AppInstance&) = delete;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace qvl::platform
