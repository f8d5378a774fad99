#include "UserMachine.h"

#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "support/ChildProcess.h"

namespace qvl::test {

namespace fs = std::filesystem;

UserMachine::UserMachine() : dir_("qvl-cli") {
    for (const char* folder : {"home/Desktop", "home/.config", "home/.local/share", "appdata", "runtime", "out"})
        fs::create_directories(dir_ / folder);
    fs::permissions(dir_ / "runtime", fs::perms::owner_all, fs::perm_options::replace);
    WriteFileBytes(dir_ / "home/.config/user-dirs.dirs", "XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n");
}

std::string UserMachine::Path(const std::string& relative) const { return (dir_ / relative).string(); }

RunResult UserMachine::Run(const std::string& program, const std::vector<std::string>& arguments,
                           const Environment& environment, std::chrono::milliseconds bound) const {
    ChildProcess::Options options;
    options.outputPath = Path("out/stdout");
    options.errorPath = Path("out/stderr");
    fs::remove(options.outputPath);
    fs::remove(options.errorPath);
    options.workingDirectory = dir_.Path().string();
    options.environment = {
        {"HOME", Home()},
        {"APPDATA", AppData()},
        {"XDG_DATA_HOME", Path("home/.local/share")},
        {"XDG_CONFIG_HOME", Path("home/.config")},
        {"XDG_DESKTOP_DIR", Desktop()},
        {"XDG_RUNTIME_DIR", Path("runtime")},
        {"QT_QPA_PLATFORM", "offscreen"},
        {"DISPLAY", std::nullopt},
        {"WAYLAND_DISPLAY", std::nullopt},
        {"http_proxy", std::nullopt},
        {"HTTP_PROXY", std::nullopt},
        {"no_proxy", std::nullopt},
        {"NO_PROXY", std::nullopt},
        {"QVL_TEST_BASE_URL", std::nullopt},
    };
    options.environment.insert(options.environment.end(), environment.begin(), environment.end());

    RunResult result;
    {
        ChildProcess child(program, arguments, options);
        if (child.WaitForExit(bound)) {
            const int status = *child.WaitStatus();
            if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
            else if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
        }
    }
    result.out = ReadFileBytes(options.outputPath);
    result.err = ReadFileBytes(options.errorPath);
    return result;
}

std::vector<std::string> UserMachine::Tree() const {
    std::vector<std::string> out;
    for (const auto& entry : fs::recursive_directory_iterator(dir_.Path())) {
        const std::string relative = fs::relative(entry.path(), dir_.Path()).string();
        if (relative.rfind("out", 0) == 0) continue;
        out.push_back(relative);
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<std::string> ReadLines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

}  // namespace qvl::test
