#include "Sandbox.h"

#include <cstdlib>
#include <filesystem>

#include "framework/Application.h"
#include "framework/Exception.h"
#include "installer/SetupProgram.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace qvl::test {
namespace {

void Put(const std::string& name, const std::optional<std::string>& value) {
#ifdef _WIN32
    // Through the C runtime, which passes it on to the process's environment block.
    _putenv_s(name.c_str(), value ? value->c_str() : "");
#else
    if (value) setenv(name.c_str(), value->c_str(), 1);
    else unsetenv(name.c_str());
#endif
}

#ifdef _WIN32
constexpr char kShellFolders[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

std::optional<std::string> ReadShellFolder(const char* name) {
    char value[MAX_PATH] = {};
    DWORD size = sizeof value;
    if (RegGetValueA(HKEY_CURRENT_USER, kShellFolders, name, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND,
                     nullptr, value, &size) != ERROR_SUCCESS)
        return std::nullopt;
    return std::string(value);
}

void WriteShellFolder(const char* name, const std::optional<std::string>& value) {
    if (!value) {
        RegDeleteKeyValueA(HKEY_CURRENT_USER, kShellFolders, name);
        return;
    }
    RegSetKeyValueA(HKEY_CURRENT_USER, kShellFolders, name, REG_EXPAND_SZ, value->c_str(),
                    static_cast<DWORD>(value->size() + 1));
}

// The installer's app directory is the drive's own "C:\Quorvale".
void RemoveAppDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all("C:\\Quorvale", ignored);
}
#endif

}  // namespace

Sandbox::Sandbox() {
#ifdef _WIN32
    RemoveAppDirectory();
    MakeDir(Path("desktop"));
    MakeDir(Path("programs"));
    for (const char* name : {"Desktop", "Programs"}) savedFolders_[name] = ReadShellFolder(name);
    WriteShellFolder("Desktop", (dir_ / "desktop").string());
    WriteShellFolder("Programs", (dir_ / "programs").string());
#else
    MakeDir(Home());
#endif
    MakeDir(AppData());
    SetEnv("HOME", Path("home"));
    SetEnv("APPDATA", AppData());
    SetEnv("XDG_DATA_HOME", Path("xdg"));
}

Sandbox::~Sandbox() {
    for (const auto& [name, value] : saved_) Put(name, value);
#ifdef _WIN32
    for (const auto& [name, value] : savedFolders_) WriteShellFolder(name.c_str(), value);
    RemoveAppDirectory();
#endif
}

std::string Sandbox::Home() const {
#ifdef _WIN32
    return "C:";
#else
    return Path("home");
#endif
}

std::string Sandbox::DesktopShortcut() const {
#ifdef _WIN32
    return Path("desktop") + "\\Quorvale.lnk";
#else
    return Path("desktop/Quorvale.desktop");
#endif
}

std::string Sandbox::MenuShortcut() const {
#ifdef _WIN32
    return Path("programs") + "\\Quorvale\\Quorvale.lnk";
#else
    return Path("xdg/applications/Quorvale/Quorvale.desktop");
#endif
}

std::string Sandbox::Path(const std::string& relative) const { return (dir_ / relative).string(); }

void Sandbox::SetEnv(const char* name, std::optional<std::string> value) {
    if (!saved_.count(name)) {
        const char* old = std::getenv(name);
        saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    Put(name, value);
}

bool Sandbox::IsDir(const std::string& path) { return std::filesystem::is_directory(path); }

void Sandbox::MakeDir(const std::string& path) { std::filesystem::create_directories(path); }

RecordingDisplay::RecordingDisplay() {
    TSetupProgram::InitApplication();
    Application::SetExceptionDisplay([this](const std::string& text) { shown.push_back(text); });
}

RecordingDisplay::~RecordingDisplay() { TSetupProgram::InitApplication(); }

std::string RangeErrorOf(const std::function<void()>& set) {
    try {
        set();
    } catch (const ERangeError& e) {
        return e.Message();
    }
    return "";
}

}  // namespace qvl::test
