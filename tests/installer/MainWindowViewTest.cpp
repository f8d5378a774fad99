// The real window under the offscreen platform: layout to the pixel, fonts and colours, focus,
// the log, the progress bar's range rules and the message box.
#include "support/PlatformSkip.h"
#if QVL_TEST_LINUX
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QFontInfo>
#include <QFrame>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <algorithm>
#include <cstdlib>
#include <optional>

#include "BoxWatcher.h"
#include "Sandbox.h"
#include "framework/Application.h"
#include "framework/Exception.h"
#include "installer/MainWindow.h"
#include "installer/linux/MainWindowView.h"
#include "installer/linux/ProgressBar.h"
#include "installer/Qvlsetupmain.h"
#include "support/ScriptedServer.h"

using namespace qvl;
using qvl::test::BoxWatcher;
using qvl::test::Sandbox;

namespace {

const QColor kSkyBlue(166, 202, 240);

// The view on the screen, waited for until it is exposed (bounded).
struct ShownView {
    ShownView() {
        view.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&view, 5000));
    }
    MainWindowView view;
};

void ExpectFont(QWidget* w, const char* family, int pixels, bool bold) {
    const QFontInfo info(w->font());
    EXPECT_EQ(info.family(), QString::fromLatin1(family)) << w->objectName().toStdString();
    EXPECT_EQ(info.pixelSize(), pixels);
    EXPECT_EQ(info.bold(), bold);
}

}  // namespace

TEST(MainWindowView, ControlsSitWhereTheLayoutPutsThem) {
    ShownView shown;
    MainWindowView& v = shown.view;
    EXPECT_EQ(v.size(), QSize(463, 380));
    EXPECT_EQ(v.Panel1->geometry(), QRect(0, 0, 463, 181));
    EXPECT_EQ(v.Panel2->geometry(), QRect(0, 352, 463, 28));
    EXPECT_EQ(v.Memo1->geometry(), QRect(0, 181, 463, 171));
    EXPECT_EQ(v.ProgressBar1->geometry(), QRect(1, 0, 461, 27));
    EXPECT_EQ(v.Label1->geometry(), QRect(1, 1, 461, 26));
    // The labels size themselves to their text: at least their design width, never cut off.
    for (auto [label, rect] : {std::pair{v.Label2, QRect(24, 64, 254, 18)}, std::pair{v.Label3, QRect(24, 144, 174, 18)}}) {
        EXPECT_EQ(label->pos(), rect.topLeft());
        EXPECT_EQ(label->height(), rect.height());
        EXPECT_GE(label->width(), rect.width());
        EXPECT_LE(label->width(), rect.width() + 40);
        EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width());
    }
    EXPECT_EQ(v.CheckBox1->geometry(), QRect(24, 40, 245, 20));
    EXPECT_EQ(v.CheckBox2->geometry(), QRect(24, 116, 229, 20));
    EXPECT_EQ(v.Button1->geometry(), QRect(352, 140, 75, 25));
    EXPECT_EQ(v.ProgressBar1->parentWidget(), v.Panel2);
    EXPECT_EQ(v.Button1->parentWidget(), v.Panel1);

    EXPECT_EQ(v.Label1->text(), QStringLiteral("Please make your selections and click 'next'"));
    EXPECT_EQ(v.Label1->alignment(), Qt::AlignHCenter | Qt::AlignVCenter);
    EXPECT_EQ(v.Label2->text(), QStringLiteral("This will install / update the wallet program"));
    EXPECT_EQ(v.Label3->text(), QStringLiteral("This will install the blockchain"));
    EXPECT_EQ(v.CheckBox1->text(), QStringLiteral("program"));
    EXPECT_EQ(v.CheckBox2->text(), QStringLiteral("blockchain"));
    EXPECT_EQ(v.Button1->text(), QStringLiteral("Next"));
    EXPECT_FALSE(v.Button1->isDefault());
    EXPECT_FALSE(v.CheckBox1->isChecked());
    EXPECT_FALSE(v.CheckBox2->isChecked());
    EXPECT_FALSE(v.windowIcon().isNull());
}

TEST(MainWindowView, ResizingChangesOnlyTheLogHeightAndTheWidths) {
    ShownView shown;
    MainWindowView& v = shown.view;
    v.resize(600, 500);
    QApplication::processEvents();
    EXPECT_EQ(v.Panel1->geometry(), QRect(0, 0, 600, 181));
    EXPECT_EQ(v.Label1->geometry(), QRect(1, 1, 598, 26));
    EXPECT_EQ(v.Memo1->geometry(), QRect(0, 181, 600, 291));
    EXPECT_EQ(v.Panel2->geometry(), QRect(0, 472, 600, 28));
    EXPECT_EQ(v.ProgressBar1->geometry(), QRect(1, 0, 598, 27));
    EXPECT_EQ(v.Label2->pos(), QPoint(24, 64));
    EXPECT_EQ(v.CheckBox2->geometry(), QRect(24, 116, 229, 20));
    EXPECT_EQ(v.Button1->geometry(), QRect(352, 140, 75, 25));

    v.resize(463, 300);
    QApplication::processEvents();
    EXPECT_EQ(v.Panel1->geometry(), QRect(0, 0, 463, 181));
    EXPECT_EQ(v.Memo1->geometry(), QRect(0, 181, 463, 91));
    EXPECT_EQ(v.Panel2->geometry(), QRect(0, 272, 463, 28));
}

TEST(MainWindowView, FontsColoursAndBevels) {
    ShownView shown;
    MainWindowView& v = shown.view;
    ExpectFont(v.Label1, "Open Sans", 19, false);
    ExpectFont(v.Label2, "Open Sans", 13, false);
    ExpectFont(v.Label3, "Open Sans", 13, false);
    ExpectFont(v.CheckBox1, "Open Sans", 16, false);
    ExpectFont(v.CheckBox2, "Open Sans", 16, false);
    ExpectFont(v.Button1, "Open Sans", 16, true);
    EXPECT_EQ(QFontInfo(v.Memo1->font()).pixelSize(), 11);

    for (QFrame* panel : {v.Panel1, v.Panel2}) {
        EXPECT_EQ(panel->palette().color(QPalette::Window), kSkyBlue);
        EXPECT_EQ(panel->frameShape(), QFrame::Panel);
        EXPECT_EQ(panel->frameShadow(), QFrame::Raised);
        EXPECT_EQ(panel->lineWidth(), 1);
    }
    // What is painted: sky blue inside the top panel, its bevel light at the top-left corner and
    // dark at the bottom-right one.
    const QImage image = v.grab().toImage();
    ASSERT_EQ(image.size(), QSize(463, 380));
    EXPECT_EQ(QColor(image.pixel(440, 100)), kSkyBlue);
    EXPECT_EQ(QColor(image.pixel(300, 20)).rgb() != kSkyBlue.rgb(), true);  // the heading's text
    EXPECT_GT(qGray(image.pixel(0, 0)), qGray(kSkyBlue.rgb()));
    EXPECT_LT(qGray(image.pixel(462, 180)), qGray(kSkyBlue.rgb()));
}

TEST(MainWindowView, LogScrollsVerticallyAndWraps) {
    ShownView shown;
    QPlainTextEdit* memo = shown.view.Memo1;
    EXPECT_EQ(memo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(memo->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_EQ(memo->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    EXPECT_FALSE(memo->isReadOnly());
    EXPECT_EQ(shown.view.LogLines(), std::vector<std::string>{"waiting..."});

    shown.view.ClearLog();
    shown.view.AppendLog(std::string(400, 'x'));
    EXPECT_EQ(shown.view.LogLines(), std::vector<std::string>{std::string(400, 'x')});
    ASSERT_TRUE(QTest::qWaitFor([&] { return memo->document()->firstBlock().text().size() == 400; }, 5000));
    EXPECT_GT(memo->document()->firstBlock().layout()->lineCount(), 1);  // wrapped, not cut
}

namespace {

// Whether the log's last line on screen (its block in the document) is `text`.
bool LastShownLineIs(const MainWindowView& v, const std::string& text) {
    const QTextBlock last = v.Memo1->document()->lastBlock().previous();
    return last.isValid() && last.text() == QString::fromStdString(text);
}

// The rectangle, in the window's coordinates, of the log's last line, when it is in view.
std::optional<QRect> LastLineOnScreen(const MainWindowView& v) {
    const QTextBlock last = v.Memo1->document()->lastBlock().previous();
    const QRect box = v.Memo1->cursorRect(QTextCursor(last));
    if (!v.Memo1->viewport()->rect().contains(box)) return std::nullopt;
    QRect line(0, box.top(), v.Memo1->viewport()->width(), box.height());
    return line.translated(v.Memo1->viewport()->mapTo(&v, QPoint(0, 0)));
}

// Whether a part of the picture holds more than one colour (text, not an empty or blank area).
bool HoldsText(const QImage& image, const QRect& area) {
    const QImage part = image.copy(area);
    for (int y = 0; y < part.height(); ++y)
        for (int x = 0; x < part.width(); ++x)
            if (part.pixel(x, y) != part.pixel(0, 0)) return true;
    return false;
}

}  // namespace

TEST(MainWindowView, FiveThousandLinesAreAllKeptAndTheLastIsInView) {
    ShownView shown;
    MainWindowView& v = shown.view;
    v.ClearLog();
    for (int i = 0; i < 5000; ++i) v.AppendLog("line " + std::to_string(i));
    // Lines that come in quick succession go into the log together at the next frame.
    ASSERT_TRUE(QTest::qWaitFor([&] { return LastShownLineIs(v, "line 4999"); }, 5000));
    const std::vector<std::string> lines = v.LogLines();
    ASSERT_EQ(lines.size(), 5000u);
    EXPECT_EQ(lines.front(), "line 0");
    EXPECT_EQ(lines[2500], "line 2500");
    EXPECT_EQ(lines.back(), "line 4999");
    QScrollBar* bar = v.Memo1->verticalScrollBar();
    EXPECT_GT(bar->maximum(), 0);
    EXPECT_GE(bar->value(), bar->maximum() - 1);
    // The caret is behind the last line, and the last line's block is on screen.
    EXPECT_TRUE(LastLineOnScreen(v).has_value());
    EXPECT_TRUE(v.Memo1->textCursor().atEnd());
}

// A download logs a line per chunk and lets the window dispatch after each: the lines go into
// the log a frame's worth at a time (one insert, one scroll), painting is never switched off,
// and the line list is exact after every line.
TEST(MainWindowView, ABurstOfLinesIsInsertedOncePerFrameAndListedAtOnce) {
    ShownView shown;
    MainWindowView& v = shown.view;
    struct PaintCounter : QObject {
        int paints = 0;
        bool eventFilter(QObject*, QEvent* e) override {
            if (e->type() == QEvent::Paint) ++paints;
            return false;
        }
    } counter;
    v.Memo1->viewport()->installEventFilter(&counter);
    int inserts = 0;
    QObject::connect(v.Memo1, &QPlainTextEdit::textChanged, [&] { ++inserts; });
    v.ClearLog();
    inserts = 0;
    constexpr int kLines = 2000;
    bool exact = true, painting = true;
    for (int i = 0; i < kLines; ++i) {
        const std::string line = "Max=131072000  file posistion=" + std::to_string(i * 65536);
        v.AppendLog(line);
        const std::vector<std::string> lines = v.LogLines();
        exact = exact && lines.size() == static_cast<size_t>(i + 1) && lines.back() == line;
        painting = painting && v.Memo1->updatesEnabled();
        QApplication::processEvents();
    }
    EXPECT_TRUE(exact) << "the line list must hold every line as soon as it is logged";
    EXPECT_TRUE(painting);
    EXPECT_LT(inserts, kLines / 4) << "inserted nearly line by line";
    EXPECT_LT(counter.paints, kLines / 4) << "painted after nearly every line";
    const std::string last = "Max=131072000  file posistion=" + std::to_string((kLines - 1) * 65536);
    ASSERT_TRUE(QTest::qWaitFor([&] { return LastShownLineIs(v, last); }, 5000));
    QApplication::processEvents();
    EXPECT_GE(counter.paints, 1);
    EXPECT_EQ(v.LogLines().size(), static_cast<size_t>(kLines));
    EXPECT_TRUE(LastLineOnScreen(v).has_value());
    v.Memo1->viewport()->removeEventFilter(&counter);
}

// The picture taken at once after a run logged its lines, before any frame has passed: the
// log area holds text and its last line on screen is the last one logged.
TEST(MainWindow, ThePictureAfterARunShowsTheLogUpToItsLastLine) {
    Sandbox box;
    MainWindow form1;
    MainWindowView& v = form1.View();
    v.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&v, 5000));
    THttpClient& client = *form1.Form().HttpClient1;
    client.BytesTotal = 300 * 65536;
    std::string lastLogged;
    v.OnLogLine = [&](const std::string& line) { lastLogged = line; };
    while (v.LogLines().size() < 300) {
        client.BytesRecvd += 65536;
        client.OnPacketRecvd(&client);
    }
    ASSERT_EQ(lastLogged, "Max=19660800  file posistion=" + std::to_string(client.BytesRecvd));
    EXPECT_FALSE(LastShownLineIs(v, lastLogged)) << "the lines wait for the next frame";

    const QImage image = v.Picture().toImage();
    EXPECT_EQ(v.LogLines().size(), 300u);
    EXPECT_EQ(v.LogLines().back(), lastLogged);
    EXPECT_TRUE(LastShownLineIs(v, lastLogged));
    const QRect logArea(v.Memo1->viewport()->mapTo(&v, QPoint(0, 0)), v.Memo1->viewport()->size());
    EXPECT_TRUE(HoldsText(image, logArea)) << "the log area is one colour";
    const std::optional<QRect> lastLine = LastLineOnScreen(v);
    ASSERT_TRUE(lastLine.has_value()) << "the last line is scrolled out of view";
    EXPECT_TRUE(HoldsText(image, *lastLine));
    // The line above it is the one logged before (a different text), and on screen too.
    EXPECT_TRUE(HoldsText(image, lastLine->translated(0, -lastLine->height())));
}

TEST(MainWindowView, AppendedLineAfterTypedTextStartsALineOfItsOwn) {
    MainWindowView v;
    v.Memo1->setPlainText(QStringLiteral("typed"));
    v.AppendLog("next");
    EXPECT_EQ(v.LogLines(), (std::vector<std::string>{"typed", "next"}));
}

TEST(MainWindowView, TabCyclesLogProgramBlockchainNextAndTheLogHasTheFocusFirst) {
    ShownView shown;
    MainWindowView& v = shown.view;
    v.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&v, 5000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::focusWidget() != nullptr; }, 5000));
    EXPECT_EQ(QApplication::focusWidget(), v.Memo1);
    const QWidget* expected[] = {v.CheckBox1, v.CheckBox2, v.Button1, v.Memo1};
    for (const QWidget* next : expected) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), next);
    }
    EXPECT_EQ(v.LogLines(), std::vector<std::string>{"waiting..."});  // no tab typed into the log
}

TEST(MainWindowView, ProgressBarRangeRules) {
    MainWindowView v;
    EXPECT_TRUE(v.ProgressBar1->isVisibleTo(&v));
    EXPECT_EQ(v.GetProgressMax(), 100);
    EXPECT_EQ(v.GetProgressPosition(), 0);

    v.SetProgressMax(1000);
    v.SetProgressPosition(600);
    EXPECT_EQ(test::RangeErrorOf([&] { v.SetProgressMax(-1); }), "TProgressBar property out of range")
        << "a negative maximum must be refused";
    EXPECT_EQ(v.GetProgressMax(), 1000);
    EXPECT_EQ(v.GetProgressPosition(), 600);
    EXPECT_EQ(v.ProgressBar1->maximum(), 1000);
    EXPECT_EQ(v.ProgressBar1->value(), 600);

    v.SetProgressMax(1000);  // the same maximum: nothing changes
    EXPECT_EQ(v.GetProgressPosition(), 600);

    v.SetProgressMax(500);  // the position is pulled into the smaller range
    EXPECT_EQ(v.GetProgressPosition(), 500);
    v.SetProgressPosition(-7);
    EXPECT_EQ(v.GetProgressPosition(), 0);

    v.SetProgressMax(0);  // an empty range takes any position without an error
    v.SetProgressPosition(65536);
    EXPECT_EQ(v.GetProgressMax(), 0);
    EXPECT_EQ(v.GetProgressPosition(), 0);
    EXPECT_NE(v.ProgressBar1->maximum(), 0);  // no busy animation for an empty range

    v.SetProgressMax(2147483647);
    v.SetProgressPosition(2147483647);
    EXPECT_EQ(v.GetProgressMax(), 2147483647);
    EXPECT_EQ(v.GetProgressPosition(), 2147483647);

    v.SetProgressVisible(false);
    EXPECT_FALSE(v.ProgressBar1->isVisibleTo(&v));
    EXPECT_TRUE(v.Panel2->isVisibleTo(&v));
    v.SetProgressVisible(true);
    EXPECT_TRUE(v.ProgressBar1->isVisibleTo(&v));
}

TEST(MainWindowView, ProgressBarIsContinuous) {
    ShownView shown;
    MainWindowView& v = shown.view;
    v.SetProgressMax(100);
    v.SetProgressPosition(50);
    QApplication::processEvents();
    const QImage bar = v.ProgressBar1->grab().toImage();
    const int y = bar.height() / 2;
    // Along the middle row, the filled half has no gaps between blocks: one colour throughout.
    const QRgb fill = bar.pixel(bar.width() / 4, y);
    for (int x = 6; x < bar.width() / 2 - 6; ++x) ASSERT_EQ(bar.pixel(x, y), fill) << x;
    EXPECT_NE(bar.pixel(bar.width() * 3 / 4, y), fill);
}

TEST(MainWindowView, MessageBoxWithFlagsZeroHasOneOkAndNoIcon) {
    ShownView shown;
    BoxWatcher watcher;
    const int result = shown.view.ShowMessageBox("could not download wallet", "Download failure", 0);
    EXPECT_EQ(result, kIdOk);
    const auto* box = watcher.OnlyOkBox(QStringLiteral("Download failure"), QStringLiteral("could not download wallet"));
    ASSERT_TRUE(box);
    EXPECT_EQ(box->icon, QMessageBox::NoIcon);
}

TEST(MainWindow, AfterStartUpTheLogHoldsOnlyTheStartUpLines) {
    Sandbox box;
    MainWindow form1;
    MainWindowView& v = form1.View();
    const std::vector<std::string> lines = v.LogLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), "ticker is qvl");
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "waiting..."), 0);
    EXPECT_EQ(v.windowTitle(), QStringLiteral("Quorvale Installer - Updater"));
    EXPECT_TRUE(v.ProgressBar1->isVisibleTo(&v));
    EXPECT_EQ(v.GetProgressPosition(), 0);
}

TEST(MainWindow, NextGoesToTheLogicThroughTheGuard) {
    Sandbox box;
    qvl::test::RecordingDisplay errors;
    const std::vector<std::string>& shown = errors.shown;
    MainWindow form1;
    MainWindowView& v = form1.View();
    // Nothing listens where the downloads go: the run's exception must end in the error box.
    form1.Form().HttpClient1->Proxy = "127.0.0.1";
    form1.Form().HttpClient1->ProxyPort = qvl::test::ScriptedServer::UnusedPort();
    v.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&v, 5000));
    const size_t before = v.LogLines().size();
    QTest::mouseClick(v.Button1, Qt::LeftButton);
    v.CheckBox2->setChecked(true);
    QTest::mouseClick(v.Button1, Qt::LeftButton);
    const std::vector<std::string> lines = v.LogLines();
    ASSERT_GE(lines.size(), before + 3);
    EXPECT_EQ(lines[before], "please make a slection.");
    EXPECT_EQ(lines[before + 1], "install blockchain is checked");
    EXPECT_EQ(lines[before + 2], "Downloading Blockchain");
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], "Connection Failed.");
    EXPECT_TRUE(v.isVisible());
}

TEST(MainWindow, ANegativeLengthIsRefusedByTheBar) {
    Sandbox box;
    MainWindow form1;
    THttpClient& client = *form1.Form().HttpClient1;
    client.BytesTotal = -5;
    client.BytesRecvd = 10;
    const size_t lines = form1.View().LogLines().size();
    EXPECT_THROW(client.OnPacketRecvd(&client), ERangeError);
    EXPECT_EQ(form1.View().GetProgressMax(), 100);
    EXPECT_EQ(form1.View().LogLines().size(), lines);
}

// Renders the window after start-up into the build tree (QVL_SCREENSHOT names the file), for a
// person to look at; the picture must be the window's client area.
TEST(MainWindow, RendersToAPicture) {
    Sandbox box;
    MainWindow form1;
    form1.View().show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form1.View(), 5000));
    const QImage image = form1.View().Picture().toImage();
    EXPECT_EQ(image.size(), QSize(463, 380));
    const char* name = std::getenv("QVL_SCREENSHOT");
    const QString file = name && *name ? QString::fromLocal8Bit(name)
                                       : QDir::temp().filePath(QStringLiteral("qvlsetup-window.png"));
    EXPECT_TRUE(image.save(file));
}

#else
QVL_TESTS_SKIPPED_HERE(MainWindowView, "the Qt window is the Linux side's; Win32View tests the Win32 window")
#endif
