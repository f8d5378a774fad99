#pragma once
// A watcher that answers the next modal message box of the Qt window.
#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <vector>

namespace qvl::test {

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
    // Checks that it saw one box, modal, with `title`, `text` and one OK button, and returns that
    // box; nullptr (the failure recorded) when it saw none or several.
    const SeenBox* OnlyOkBox(const QString& title, const QString& text) const;

private:
    QTimer timer_;
    std::vector<SeenBox> seen_;
};

}  // namespace qvl::test
