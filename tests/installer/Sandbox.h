#pragma once
// Test helpers of the installer: a sandbox in which HOME ("C:\") and APPDATA point into a fresh
// temporary folder, and a recording stand-in for the window.
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "installer/WindowServices.h"
#include "support/TempDir.h"

// What a test relies on exists only on Linux (file modes, the XDG folders, a HOME that is "C:").
#ifdef _WIN32
#define QVL_LINUX_ONLY(why) GTEST_SKIP() << "Linux only: " << why
#else
#define QVL_LINUX_ONLY(why) static_cast<void>(0)
#endif

namespace qvl::test {

class Sandbox {
public:
    // Points HOME at <tmp>/home and APPDATA at <tmp>/appdata (both created) and XDG_DATA_HOME
    // at <tmp>/xdg (not created). The previous values come back when the sandbox goes.
    // On Windows "C:\" is the drive itself: Home() is "C:", and C:\Quorvale is removed when the
    // sandbox is made and when it goes (the tests run in a throwaway wine prefix); the user's
    // Desktop and Start-menu programs folders point at <tmp>/desktop and <tmp>/programs
    // (created) for the sandbox's life.
    Sandbox();
    ~Sandbox();

    std::string Path(const std::string& relative) const;
    std::string Home() const;
    // Where the launcher's two shortcuts land: a desktop entry in the desktop folder and in the
    // menu's Quorvale folder (Linux), a .lnk file in the Desktop and in Programs\Quorvale
    // (Windows).
    std::string DesktopShortcut() const;
    std::string MenuShortcut() const;
    std::string AppData() const { return Path("appdata"); }
    // Sets (or with nothing, removes) one variable for the sandbox's life.
    void SetEnv(const char* name, std::optional<std::string> value);
    static bool IsDir(const std::string& path);
    static void MakeDir(const std::string& path);

private:
    TempDir dir_{"qvl-installer"};
    std::map<std::string, std::optional<std::string>> saved_;
    std::map<std::string, std::optional<std::string>> savedFolders_;  // Windows: the shell folders
};

class RecordingWindow : public WindowServices {
public:
    void ClearLog() override { log.clear(); ++clears; }
    void AppendLog(const std::string& text) override { log.push_back(text); }
    void SetTitle(const std::string& text) override { title = text; }
    void SetProgressVisible(bool visible) override { progressVisible = visible; }
    void SetProgressMax(int32_t value) override { progressMax = value; }
    void SetProgressPosition(int32_t value) override { progressPosition = value; }
    int32_t GetProgressMax() override { return progressMax; }
    int32_t GetProgressPosition() override { return progressPosition; }
    bool IsProgramTicked() override { return programTicked; }
    bool IsBlockchainTicked() override { return blockchainTicked; }
    int ShowMessageBox(const std::string& text, const std::string& caption, unsigned flags) override {
        boxes.push_back({text, caption, flags});
        return kIdOk;
    }

    struct Box {
        std::string text, caption;
        unsigned flags;
    };
    std::vector<std::string> log;
    int clears = 0;
    std::string title;
    bool progressVisible = true;
    int32_t progressMax = 100, progressPosition = 0;
    bool programTicked = false, blockchainTicked = false;
    std::vector<Box> boxes;
};

// Records what the framework's error box would show, for its life; then the program's error box
// is the display again.
class RecordingDisplay {
public:
    RecordingDisplay();
    ~RecordingDisplay();
    RecordingDisplay(const RecordingDisplay&) = delete;
    RecordingDisplay& operator=(const RecordingDisplay&) = delete;
    std::vector<std::string> shown;
};

// The message of the ERangeError that `set` raises (a progress bar's setter); "" when it raises
// none.
std::string RangeErrorOf(const std::function<void()>& set);

}  // namespace qvl::test
