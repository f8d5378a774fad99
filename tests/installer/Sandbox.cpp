#include "Sandbox.h"

#include <QAbstractButton>
#include <QApplication>
#include <QTimer>
#include <cstdlib>
#include <filesystem>

#include "framework/Application.h"
#include "installer/SetupProgram.h"

namespace qvl::test {

Sandbox::Sandbox() {
    MakeDir(Home());
    MakeDir(AppData());
    SetEnv("HOME", Home());
    SetEnv("APPDATA", AppData());
    SetEnv("XDG_DATA_HOME", Path("xdg"));
}

Sandbox::~Sandbox() {
    for (const auto& [name, value] : saved_) {
        if (value) setenv(name.c_str(), value->c_str(), 1);
        else unsetenv(name.c_str());
    }
}

std::string Sandbox::Path(const std::string& relative) const {
    return dir_.path().toStdString() + "/" + relative;
}

void Sandbox::SetEnv(const char* name, std::optional<std::string> value) {
    if (!saved_.count(name)) {
        const char* old = std::getenv(name);
        saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    if (value) setenv(name, value->c_str(), 1);
    else unsetenv(name);
}

bool Sandbox::IsDir(const std::string& path) { return std::filesystem::is_directory(path); }

void Sandbox::MakeDir(const std::string& path) { std::filesystem::create_directories(path); }

RecordingDisplay::RecordingDisplay() {
    TSetupProgram::InitApplication();
    Application::SetExceptionDisplay([this](const std::string& text) { shown.push_back(text); });
}

RecordingDisplay::~RecordingDisplay() { TSetupProgram::InitApplication(); }

namespace {

QMessageBox* OpenBox() {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) return box;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) return box;
    return nullptr;
}

}  // namespace

BoxWatcher::BoxWatcher() {
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
        QMessageBox* box = OpenBox();
        if (!box) return;
        SeenBox seen;
        seen.title = box->windowTitle();
        seen.text = box->text();
        seen.icon = box->icon();
        seen.modal = box->isModal();
        for (QAbstractButton* b : box->buttons()) seen.buttons << b->text().remove(QLatin1Char('&'));
        seen_.push_back(seen);
        if (!box->buttons().isEmpty()) box->buttons().first()->click();
        else box->reject();
    });
    timer_.start();
}

}  // namespace qvl::test
