#include "installer/ViewApplication.h"

#include <QApplication>
#include <cstdlib>
#include <string>

namespace qvl {
namespace {

bool Set(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

// An unattended run on a machine without a display would otherwise end in Qt's refusal to
// start; it needs no screen, so it gets the offscreen platform unless one was chosen.
void ChooseOffscreenWithoutDisplay(int argc, char** argv) {
    if (Set("QT_QPA_PLATFORM") || Set("DISPLAY") || Set("WAYLAND_DISPLAY")) return;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-platform" || arg == "--platform" || arg.rfind("-platform=", 0) == 0 || arg.rfind("--platform=", 0) == 0)
            return;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
}

}  // namespace

struct ViewApplication::Impl {
    Impl(int& argc, char** argv) : app(argc, argv) {}
    QApplication app;
};

ViewApplication::ViewApplication(int& argc, char** argv, bool unattended) {
    if (unattended) ChooseOffscreenWithoutDisplay(argc, argv);
    impl_ = std::make_unique<Impl>(argc, argv);
}

ViewApplication::~ViewApplication() = default;

int ViewApplication::Exec() { return QApplication::exec(); }

void ViewApplication::Quit() { QCoreApplication::quit(); }

}  // namespace qvl
