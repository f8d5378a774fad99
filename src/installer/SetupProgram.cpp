#include "installer/SetupProgram.h"

#include <QApplication>
#include <QCheckBox>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "framework/Application.h"
#include "installer/EnvironmentProxy.h"
#include "installer/ErrorBox.h"
#include "installer/MainWindow.h"
#include "installer/linux/MainWindowView.h"
#include "installer/Qvlsetupmain.h"

#ifndef QVL_VERSION
#error "QVL_VERSION must be set by the build"
#endif

namespace qvl {
namespace {

void PrintRefusal(const std::string& error) {
    std::fprintf(stderr, "qvlsetup: %s\nTry 'qvlsetup --help' for more information.\n", error.c_str());
}

// Answers --help and --version; -1 when neither was asked for.
int Answer(const SetupOptions& options) {
    if (options.help) {
        std::fputs(SetupOptions::HelpText().c_str(), stdout);
        return TSetupProgram::kExitSuccess;
    }
    if (options.version) {
        std::printf("qvlsetup (Quorvale Setup) %s\ndownload server: %s\n", QVL_VERSION, baseurl.c_str());
        return TSetupProgram::kExitSuccess;
    }
    return -1;
}

bool Set(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

// An unattended run on a machine without a display would otherwise end in Qt's refusal to
// start; it needs no screen, so it gets the offscreen platform unless one was chosen.
void ChooseOffscreenWithoutDisplay(const std::vector<std::string>& arguments) {
    if (Set("QT_QPA_PLATFORM") || Set("DISPLAY") || Set("WAYLAND_DISPLAY")) return;
    for (const std::string& arg : arguments)
        if (arg == "-platform" || arg == "--platform" || arg.rfind("-platform=", 0) == 0 || arg.rfind("--platform=", 0) == 0)
            return;
    qputenv("QT_QPA_PLATFORM", "offscreen");
}

std::vector<std::string> ToStrings(const QStringList& list) {
    std::vector<std::string> out;
    out.reserve(static_cast<size_t>(list.size()));
    for (const QString& s : list) out.push_back(s.toLocal8Bit().toStdString());
    return out;
}

}  // namespace

int TSetupProgram::Main(int argc, char* argv[]) {
    const std::vector<std::string> arguments(argv, argv + argc);
    SetupOptions options = SetupOptions::Parse(arguments);
    if (!options.error.empty()) {
        PrintRefusal(options.error);
        return kExitBadOptions;
    }
    if (const int answered = Answer(options); answered >= 0) return answered;
    TSetupProgram program(std::move(options));
    if (!program.OpenLog()) return kExitBadOptions;
    if (program.options_.unattended) ChooseOffscreenWithoutDisplay(arguments);
    QApplication app(argc, argv);
    InitApplication();
    return program.Run();
}

TSetupProgram::TSetupProgram(QStringList arguments) : options_(SetupOptions::Parse(ToStrings(arguments))) {}

TSetupProgram::TSetupProgram(SetupOptions options) : options_(std::move(options)) {}

TSetupProgram::~TSetupProgram() = default;

void TSetupProgram::InitApplication() {
    Application::SetTitle("Quorvale Setup");
    Application::SetExceptionDisplay(ShowErrorBox);
}

bool TSetupProgram::OpenLog() {
    if (options_.logFile.empty() || log_.IsOpen()) return true;
    std::string why;
    if (log_.Open(options_.logFile, why)) return true;
    PrintRefusal("cannot open the log file " + options_.logFile + ": " + why);
    return false;
}

bool TSetupProgram::CreateForm() {
    form1_.reset();
    try {
        form1_ = std::make_unique<MainWindow>([this](MainWindowView& view) {
            if (log_.IsOpen()) view.OnLogLine = [this](const std::string& line) { log_.WriteLine(line); };
            if (options_.unattended) {
                // The only boxes the installer shows are the tasks' failure boxes.
                view.MessageBoxHandler = [this](const std::string& text, const std::string& caption, unsigned) {
                    ++failures_;
                    Report(caption, text);
                    return kIdOk;
                };
            }
        });
    } catch (...) {
        Application::ShowException(std::current_exception());
        return false;
    }

    TForm1& form = form1_->Form();
    const EnvironmentProxy proxy = EnvironmentProxy::FromProcess(baseurl);
    if (proxy.proxy) {
        form.HttpClient1->Proxy = proxy.proxy->host;
        form.HttpClient1->ProxyPort = proxy.proxy->port;
    }
    for (const std::string& line : proxy.logLines) form1_->View().AppendLog(line);

    if (options_.unattended) {
        // Every failed request counts, also those the tasks report with a log line only (the
        // launcher, the version file).
        TResultEvent failure = std::move(form.HttpClient1->OnFailure);
        form.HttpClient1->OnFailure = [this, failure](CmdType Cmd) {
            ++failures_;
            if (failure) failure(Cmd);
        };
        // So does a download the release list refused (the wallet's and the archive's also bring
        // their failure box; the launcher's and the version file's do not).
        form.OnFileRefused = [this](const std::string&) { ++failures_; };
    }
    return true;
}

void TSetupProgram::Report(const std::string& caption, const std::string& text) {
    const std::string line = caption + ": " + text;
    if (form1_) form1_->View().AppendLog(line);
    else log_.WriteLine(line);
    std::fprintf(stderr, "qvlsetup: %s\n", line.c_str());
    std::fflush(stderr);
}

int TSetupProgram::UnattendedStatus() const {
    if (errors_ > 0) return kExitError;
    if (failures_ > 0) return kExitDownloadFailed;
    return kExitSuccess;
}

int TSetupProgram::Run() {
    if (!options_.error.empty()) {
        PrintRefusal(options_.error);
        return kExitBadOptions;
    }
    if (const int answered = Answer(options_); answered >= 0) return answered;
    if (!OpenLog()) return kExitBadOptions;
    const bool unattended = options_.unattended;
    if (unattended) {
        Application::SetExceptionDisplay([this](const std::string& text) {
            ++errors_;
            Report(Application::Title(), text);
        });
    }

    int status = kExitSuccess;
    if (CreateForm()) {
        MainWindowView& view = form1_->View();
        if (options_.selectProgram) view.CheckBox1->setChecked(true);
        if (options_.selectBlockchain) view.CheckBox2->setChecked(true);
        view.show();
        if (unattended) QTimer::singleShot(0, &view, [this] { Application::Guarded([this] { RunUnattended(); }); });
        QApplication::exec();
        form1_.reset();
    }
    if (unattended) {
        status = UnattendedStatus();
        InitApplication();
    }
    return status;
}

void TSetupProgram::RunUnattended() {
    MainWindowView& view = form1_->View();
    // "Next" as the user presses it: through the window's guard, which hands an exception to
    // the exception display (here: the log and stderr).
    view.Button1->click();
    if (!options_.screenshotFile.empty()) {
        const QString file = QString::fromLocal8Bit(options_.screenshotFile.data(),
                                                    static_cast<qsizetype>(options_.screenshotFile.size()));
        // The picture was asked for, the installation was not about it: a picture that cannot
        // be saved is reported and leaves the exit status alone.
        // The lines that wait for the log's next frame belong in the picture.
        if (!view.Picture().save(file, "PNG")) {
            std::fprintf(stderr, "qvlsetup: cannot save the picture of the window to %s\n", options_.screenshotFile.c_str());
        }
    }
    view.close();
    QCoreApplication::quit();
}

}  // namespace qvl
