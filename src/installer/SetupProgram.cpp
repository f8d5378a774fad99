#include "installer/SetupProgram.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "framework/Application.h"
#include "installer/EnvironmentProxy.h"
#include "installer/ErrorBox.h"
#include "installer/MainWindow.h"
#include "installer/Qvlsetupmain.h"
#include "installer/ViewApplication.h"
#include "platform/MessageTarget.h"

#ifndef QVL_VERSION
#error "QVL_VERSION must be set by the build"
#endif

namespace qvl {
namespace {

// The message that starts an unattended run from inside the loop (WM_USER).
constexpr unsigned kStartMessage = 1024;

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
    ViewApplication app(argc, argv, program.options_.unattended);
    InitApplication();
    return program.Run();
}

TSetupProgram::TSetupProgram(const std::vector<std::string>& arguments) : options_(SetupOptions::Parse(arguments)) {}

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
        MainWindow::Hooks hooks;
        if (log_.IsOpen()) hooks.onLogLine = [this](const std::string& line) { log_.WriteLine(line); };
        if (options_.unattended) {
            // The only boxes the installer shows are the tasks' failure boxes.
            hooks.messageBoxHandler = [this](const std::string& text, const std::string& caption, unsigned) {
                ++failures_;
                Report(caption, text);
                return kIdOk;
            };
        }
        form1_ = std::make_unique<MainWindow>(std::move(hooks));
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
    for (const std::string& line : proxy.logLines) form1_->Services().AppendLog(line);

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
    if (form1_) form1_->Services().AppendLog(line);
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
        form1_->Tick(options_.selectProgram, options_.selectBlockchain);
        form1_->Show();
        if (unattended) {
            // The run starts from inside the loop, as a press of "Next" would.
            starter_ = std::make_unique<platform::MessageTarget>([this](const platform::Message&) {
                Application::Guarded([this] { RunUnattended(); });
            });
            platform::PostMessage(starter_->Id(), kStartMessage, 0, 0);
        }
        ViewApplication::Exec();
        starter_.reset();
        form1_.reset();
    }
    if (unattended) {
        status = UnattendedStatus();
        InitApplication();
    }
    return status;
}

void TSetupProgram::RunUnattended() {
    // "Next" as the user presses it: through the window's guard, which hands an exception to
    // the exception display (here: the log and stderr).
    form1_->PressNext();
    if (!options_.screenshotFile.empty()) {
        // The picture was asked for, the installation was not about it: a picture that cannot
        // be saved is reported and leaves the exit status alone.
        if (!form1_->SavePicture(options_.screenshotFile)) {
            std::fprintf(stderr, "qvlsetup: cannot save the picture of the window to %s\n", options_.screenshotFile.c_str());
        }
    }
    form1_->Close();
    ViewApplication::Quit();
}

}  // namespace qvl
