#pragma once
// Test helpers of the installer: a sandbox in which HOME ("C:\") and APPDATA point into a fresh
// temporary folder, a recording stand-in for the window, and a watcher that answers the next
// modal message box.
#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "installer/WindowServices.h"

namespace qvl::test {

class Sandbox {
public:
    // Points HOME at <tmp>/home and APPDATA at <tmp>/appdata (both created) and XDG_DATA_HOME
    // at <tmp>/xdg (not created). The previous values come back when the sandbox goes.
    Sandbox();
    ~Sandbox();

    std::string Path(const std::string& relative) const;
    std::string Home() const { return Path("home"); }
    std::string AppData() const { return Path("appdata"); }
    // Sets (or with nothing, removes) one variable for the sandbox's life.
    void SetEnv(const char* name, std::optional<std::string> value);
    static bool IsDir(const std::string& path);
    static void MakeDir(const std::string& path);

private:
    QTemporaryDir dir_;
    std::map<std::string, std::optional<std::string>> saved_;
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

// What a message box showed when the watcher closed it.
struct SeenBox {
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QStringList buttons;
    bool modal = false;
};

// While it exists, polls for a modal message box, records what it shows and presses its first
// button, so that a test that opens a box is never left waiting on it.
class BoxWatcher {
public:
    BoxWatcher();
    const std::vector<SeenBox>& Seen() const { return seen_; }

private:
    QTimer timer_;
    std::vector<SeenBox> seen_;
};

}  // namespace qvl::test
