#include "installer/SetupOptions.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string_view>

namespace qvl {
namespace {

// The options that QGuiApplication and QApplication take off the command line themselves. They
// are accepted here so that "qvlsetup -platform offscreen --unattended ..." works, and so that
// anything else can be refused before the application object is made.
constexpr std::array<std::string_view, 14> kQtOptionsWithValue = {
    "platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry", "qwindowicon",
    "qwindowtitle", "session", "style", "stylesheet", "display", "geometry", "name", "title"};
constexpr std::array<std::string_view, 6> kQtFlags = {"reverse", "widgetcount", "nograb", "dograb", "sync",
                                                      "qmljsdebugger"};

bool Contains(const auto& list, std::string_view name) {
    return std::find(list.begin(), list.end(), name) != list.end();
}

class Parser {
public:
    explicit Parser(const std::vector<std::string>& arguments) : args_(arguments) {}

    SetupOptions Run() {
        for (i_ = 1; i_ < args_.size() && options_.error.empty(); ++i_) One(args_[i_]);
        if (!options_.error.empty()) return options_;
        if (options_.help || options_.version) return options_;
        if (options_.unattended && !options_.selectProgram && !options_.selectBlockchain)
            return Fail("--unattended needs --select program, blockchain or program,blockchain: there is nothing to install otherwise");
        if (!options_.screenshotFile.empty() && !options_.unattended)
            return Fail("--screenshot is taken at the end of an unattended run; it needs --unattended");
        return options_;
    }

private:
    SetupOptions Fail(std::string message) {
        options_.error = std::move(message);
        return options_;
    }

    void One(const std::string& arg) {
        if (arg == "--") {
            if (i_ + 1 < args_.size()) Fail("unexpected argument '" + args_[i_ + 1] + "' (qvlsetup takes options only)");
            i_ = args_.size();
            return;
        }
        if (arg.size() < 2 || arg[0] != '-') {
            Fail("unexpected argument '" + arg + "' (qvlsetup takes options only)");
            return;
        }
        const bool twoDashes = arg.compare(0, 2, "--") == 0;
        const std::string body = arg.substr(twoDashes ? 2 : 1);
        const size_t eq = body.find('=');
        const std::string name = body.substr(0, eq);
        std::optional<std::string> inlineValue;
        if (eq != std::string::npos) inlineValue = body.substr(eq + 1);

        if (Contains(kQtOptionsWithValue, name)) {
            // Qt takes the next argument as the value; leave both for it.
            if (!inlineValue) {
                if (i_ + 1 >= args_.size()) {
                    Fail(arg + " needs a value");
                    return;
                }
                ++i_;
            }
            return;
        }
        if (Contains(kQtFlags, name)) return;

        if (!twoDashes) {
            if (arg == "-h") Flag(options_.help, "-h", inlineValue);
            else Fail("unknown option '" + arg + "'");
            return;
        }
        if (name == "help") Flag(options_.help, "--help", inlineValue);
        else if (name == "version") Flag(options_.version, "--version", inlineValue);
        else if (name == "unattended") Flag(options_.unattended, "--unattended", inlineValue);
        else if (name == "select") Select(inlineValue);
        else if (name == "log") File(options_.logFile, "--log", inlineValue);
        else if (name == "screenshot") File(options_.screenshotFile, "--screenshot", inlineValue);
        else Fail("unknown option '" + arg + "'");
    }

    bool Once(const std::string& option) {
        if (std::find(seen_.begin(), seen_.end(), option) != seen_.end()) {
            Fail(option + " is given more than once");
            return false;
        }
        seen_.push_back(option);
        return true;
    }

    void Flag(bool& flag, const std::string& option, const std::optional<std::string>& inlineValue) {
        if (inlineValue) {
            Fail(option + " takes no value");
            return;
        }
        if (Once(option)) flag = true;
    }

    // The value after "=", or the next argument. An argument that is itself a long option is
    // taken for a forgotten value rather than for a file named "--unattended".
    std::optional<std::string> Value(const std::string& option, const std::string& what,
                                     const std::optional<std::string>& inlineValue) {
        std::optional<std::string> value = inlineValue;
        if (!value && i_ + 1 < args_.size() && args_[i_ + 1].compare(0, 2, "--") != 0) value = args_[++i_];
        if (!value || value->empty()) {
            Fail(option + " needs " + what);
            return std::nullopt;
        }
        return value;
    }

    void File(std::string& target, const std::string& option, const std::optional<std::string>& inlineValue) {
        if (!Once(option)) return;
        if (auto value = Value(option, "a file name", inlineValue)) target = *value;
    }

    void Select(const std::optional<std::string>& inlineValue) {
        if (!Once("--select")) return;
        const auto value = Value("--select", "program, blockchain or program,blockchain", inlineValue);
        if (!value) return;
        size_t start = 0;
        while (true) {
            const size_t comma = value->find(',', start);
            const std::string item = value->substr(start, comma == std::string::npos ? std::string::npos : comma - start);
            if (item == "program") options_.selectProgram = true;
            else if (item == "blockchain") options_.selectBlockchain = true;
            else {
                Fail("--select takes program, blockchain or program,blockchain, not '" + *value + "'");
                return;
            }
            if (comma == std::string::npos) break;
            start = comma + 1;
        }
    }

    const std::vector<std::string>& args_;
    size_t i_ = 1;
    std::vector<std::string> seen_;
    SetupOptions options_;
};

}  // namespace

SetupOptions SetupOptions::Parse(const std::vector<std::string>& arguments) { return Parser(arguments).Run(); }

std::string SetupOptions::HelpText() {
    return "Usage: qvlsetup [OPTION]...\n"
           "Installs or updates the Quorvale (qvl) wallet program and its blockchain.\n"
           "Without options the window opens and waits for your choice.\n"
           "\n"
           "  --select LIST       tick \"program\", \"blockchain\" or both (program,blockchain)\n"
           "                      after start-up\n"
           "  --unattended        press \"Next\" by itself, show no message boxes (their text goes\n"
           "                      to the log and to standard error) and close the window when the\n"
           "                      run has ended; needs --select\n"
           "  --log FILE          append every log line to FILE as it is written\n"
           "  --screenshot FILE   with --unattended: save a PNG picture of the window at the end\n"
           "  -h, --help          show this help and exit\n"
           "  --version           show the version and the download server and exit\n"
           "\n"
           "Exit status: 3 when the command line is refused. With --unattended: 0 when every\n"
           "download succeeded, 1 when a download failed, 2 when an error stopped the run.\n"
           "Otherwise 0.\n"
           "\n"
           "Environment: http_proxy (or HTTP_PROXY), as host:port or http://host:port/, names the\n"
           "HTTP proxy to use, unless no_proxy (or NO_PROXY) lists the download server's host:\n"
           "comma-separated names, each matching that host and the hosts below it (a leading\n"
           "\".\" or \"*.\" changes nothing), with \":PORT\" matching that port only; \"*\" matches\n"
           "every host. With --unattended and no display, the offscreen platform is used.\n"
           "Qt's own options (-platform NAME, -style NAME, ...) are accepted as well.\n";
}

}  // namespace qvl
