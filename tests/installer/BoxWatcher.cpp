// The Qt window's helper, Linux only (WinBoxWatcher is the Win32 window's).
#ifndef _WIN32
#include "BoxWatcher.h"

#include <QAbstractButton>
#include <QApplication>
#include <gtest/gtest.h>

namespace qvl::test {
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

const SeenBox* BoxWatcher::OnlyOkBox(const QString& title, const QString& text) const {
    EXPECT_EQ(seen_.size(), 1u);
    if (seen_.size() != 1) return nullptr;
    EXPECT_EQ(seen_[0].title, title);
    EXPECT_EQ(seen_[0].text, text);
    EXPECT_EQ(seen_[0].buttons, QStringList{QStringLiteral("OK")});
    EXPECT_TRUE(seen_[0].modal);
    return &seen_[0];
}

}  // namespace qvl::test

#endif  // _WIN32
