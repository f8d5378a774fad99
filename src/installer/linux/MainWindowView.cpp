#include "installer/linux/MainWindowView.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QMessageBox>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QWindow>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <algorithm>

#include "installer/linux/ProgressBar.h"

namespace qvl {
namespace {

const QColor kSkyBlue(166, 202, 240);

// The window's design font is "MS Sans Serif", which Linux desktops do not have; a plain sans
// serif of the same pixel height stands in for it.
QFont WindowFont() {
    QFont font;
    font.setFamilies({"MS Sans Serif", "Microsoft Sans Serif", "DejaVu Sans", "Liberation Sans"});
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11);
    return font;
}

// The controls' font; when "Open Sans" is missing the nearest sans serif takes its place.
QFont OpenSans(int pixelSize, bool bold = false) {
    QFont font;
    font.setFamilies({"Open Sans", "DejaVu Sans", "Liberation Sans"});
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

// A panel with a one-pixel raised bevel: light above and left, shadow below and right.
QFrame* MakePanel(QWidget* parent) {
    auto* panel = new QFrame(parent);
    panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    panel->setLineWidth(1);
    panel->setAutoFillBackground(true);
    QPalette palette = panel->palette();
    palette.setColor(QPalette::Window, kSkyBlue);
    palette.setColor(QPalette::Light, Qt::white);
    palette.setColor(QPalette::Dark, QColor(160, 160, 160));
    palette.setColor(QPalette::WindowText, Qt::black);
    panel->setPalette(palette);
    panel->setFocusPolicy(Qt::NoFocus);
    return panel;
}

// A label sizes itself to its text, as the design's labels do: the stored width is what the
// text took on the machine it was laid out on; where this font's text is wider, the label grows
// to the right rather than cutting the text off.
QLabel* MakeLabel(QWidget* parent, const char* text, const QFont& font, const QRect& rect) {
    auto* label = new QLabel(QString::fromLatin1(text), parent);
    label->setFont(font);
    const int textWidth = QFontMetrics(font).horizontalAdvance(label->text());
    label->setGeometry(rect.x(), rect.y(), std::max(rect.width(), textWidth + 1), rect.height());
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

QCheckBox* MakeCheckBox(QWidget* parent, const char* text, const QRect& rect) {
    auto* box = new QCheckBox(QString::fromLatin1(text), parent);
    box->setFont(OpenSans(16));
    box->setGeometry(rect);
    box->setChecked(false);
    return box;
}

}  // namespace

MainWindowView::MainWindowView() {
    setWindowTitle(QStringLiteral("QVL Installer - Updater"));
    setWindowIcon(QIcon(QStringLiteral(":/qvlsetup/qvlsetup.png")));
    setFont(WindowFont());

    Panel2 = MakePanel(this);
    ProgressBar1 = new TProgressBar(Panel2);

    Memo1 = new QPlainTextEdit(this);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    Memo1->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    Memo1->setTabChangesFocus(true);
    Memo1->setPlainText(QStringLiteral("waiting..."));

    Panel1 = MakePanel(this);
    Label1 = MakeLabel(Panel1, "Please make your selections and click 'next'", OpenSans(19), QRect(1, 1, 461, 26));
    Label1->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    Label2 = MakeLabel(Panel1, "This will install / update the wallet program", OpenSans(13), QRect(24, 64, 254, 18));
    Label3 = MakeLabel(Panel1, "This will install the blockchain", OpenSans(13), QRect(24, 144, 174, 18));
    CheckBox1 = MakeCheckBox(Panel1, "program", QRect(24, 40, 245, 20));
    CheckBox2 = MakeCheckBox(Panel1, "blockchain", QRect(24, 116, 229, 20));
    Button1 = new QPushButton(QStringLiteral("Next"), Panel1);
    Button1->setFont(OpenSans(16, true));
    Button1->setGeometry(352, 140, 75, 25);
    Button1->setAutoDefault(false);
    Button1->setDefault(false);
    connect(Button1, &QPushButton::clicked, this, [this] {
        if (OnNext) OnNext();
    });

    setTabOrder(Memo1, CheckBox1);
    setTabOrder(CheckBox1, CheckBox2);
    setTabOrder(CheckBox2, Button1);

    resize(kClientWidth, kClientHeight);
    LayOut();
    Memo1->setFocus();
    CentreOnDesktop();
}

MainWindowView::~MainWindowView() = default;

void MainWindowView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    LayOut();
}

// Docking: the top panel keeps its height at the top, the bottom panel at the bottom, the log
// fills what is between; the panels' children inside the one-pixel bevel.
void MainWindowView::LayOut() {
    const int w = width();
    const int h = height();
    Panel1->setGeometry(0, 0, w, kTopPanelHeight);
    Label1->setGeometry(1, 1, std::max(0, w - 2), 26);
    const int bottomTop = std::max(kTopPanelHeight, h - kBottomPanelHeight);
    Panel2->setGeometry(0, bottomTop, w, kBottomPanelHeight);
    // Aligned to the bottom of the panel's inner area (height 27 over an inner height of 26).
    ProgressBar1->setGeometry(1, kBottomPanelHeight - 1 - 27, std::max(0, w - 2), 27);
    Memo1->setGeometry(0, kTopPanelHeight, w, bottomTop - kTopPanelHeight);
}

void MainWindowView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // The first frame shows what start-up logged, not an empty log.
    FlushLog();
    // The frame is known only once the window exists; centre the whole window then, once.
    if (!centred_) {
        centred_ = true;
        CentreOnDesktop();
    }
}

// The window with its frame goes in the middle of the desktop's free area.
void MainWindowView::CentreOnDesktop() {
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return;
    const QRect desktop = screen->availableGeometry();
    const QMargins frame = windowHandle() ? windowHandle()->frameMargins() : QMargins();
    const int outerWidth = width() + frame.left() + frame.right();
    const int outerHeight = height() + frame.top() + frame.bottom();
    move(desktop.x() + (desktop.width() - outerWidth) / 2, desktop.y() + (desktop.height() - outerHeight) / 2);
}

void MainWindowView::closeEvent(QCloseEvent* event) {
    if (DeferClose()) {
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

void MainWindowView::ClearLogControl() { Memo1->clear(); }

namespace {

// Each line ended by a line break.
QString LinesText(const std::vector<std::string>& lines) {
    QString text;
    for (const std::string& line : lines) {
        text += QString::fromLocal8Bit(line.data(), static_cast<qsizetype>(line.size()));
        text += QLatin1Char('\n');
    }
    return text;
}

}  // namespace

void MainWindowView::WriteLogLines(const std::vector<std::string>& lines) {
    QString insert = LinesText(lines);
    // A last line without its line break (typed by the user) is ended first, so that the text
    // always becomes a line of its own.
    if (!Memo1->document()->lastBlock().text().isEmpty()) insert.prepend(QLatin1Char('\n'));
    QTextCursor cursor(Memo1->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(insert);
    ShowLogEnd();
}

QPixmap MainWindowView::Picture() {
    FlushLog();
    return grab();
}

void MainWindowView::ShowLogEnd() {
    QTextCursor cursor = Memo1->textCursor();
    cursor.movePosition(QTextCursor::End);
    Memo1->setTextCursor(cursor);
    Memo1->ensureCursorVisible();
}

std::vector<std::string> MainWindowView::LogLines() const {
    QString text = Memo1->toPlainText();
    if (!PendingLog().empty()) {
        if (!text.isEmpty() && !text.endsWith(QLatin1Char('\n'))) text += QLatin1Char('\n');
        text += LinesText(PendingLog());
    }
    QStringList lines = text.split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.back().isEmpty()) lines.removeLast();
    std::vector<std::string> out;
    out.reserve(static_cast<size_t>(lines.size()));
    for (const QString& line : lines) out.push_back(line.toLocal8Bit().toStdString());
    return out;
}

void MainWindowView::SetTitle(const std::string& text) {
    setWindowTitle(QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size())));
}

ProgressBarRange& MainWindowView::Progress() { return *ProgressBar1; }

bool MainWindowView::IsProgramTicked() { return CheckBox1->isChecked(); }

bool MainWindowView::IsBlockchainTicked() { return CheckBox2->isChecked(); }

int MainWindowView::ShowSystemMessageBox(const std::string& text, const std::string& caption, unsigned flags) {
    QMessageBox::StandardButtons buttons;
    switch (flags & 0xFu) {
        case kMbOkCancel: buttons = QMessageBox::Ok | QMessageBox::Cancel; break;
        case kMbAbortRetryIgnore: buttons = QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore; break;
        case kMbYesNoCancel: buttons = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel; break;
        case kMbYesNo: buttons = QMessageBox::Yes | QMessageBox::No; break;
        case kMbRetryCancel: buttons = QMessageBox::Retry | QMessageBox::Cancel; break;
        default: buttons = QMessageBox::Ok; break;
    }
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    switch (flags & 0xF0u) {
        case kMbIconHand: icon = QMessageBox::Critical; break;
        case kMbIconQuestion: icon = QMessageBox::Question; break;
        case kMbIconExclamation: icon = QMessageBox::Warning; break;
        case kMbIconAsterisk: icon = QMessageBox::Information; break;
        default: break;
    }
    QMessageBox box(icon, QString::fromLocal8Bit(caption.data(), static_cast<qsizetype>(caption.size())),
                    QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size())), buttons, this);
    box.setWindowModality(Qt::ApplicationModal);
    switch (box.exec()) {
        case QMessageBox::Cancel: return kIdCancel;
        case QMessageBox::Abort: return kIdAbort;
        case QMessageBox::Retry: return kIdRetry;
        case QMessageBox::Ignore: return kIdIgnore;
        case QMessageBox::Yes: return kIdYes;
        case QMessageBox::No: return kIdNo;
        default: return kIdOk;
    }
}

}  // namespace qvl
