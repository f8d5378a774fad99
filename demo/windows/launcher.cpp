// qvlloader.exe of the demo download server, for Windows: the Quorvale launcher. It says who it
// is and starts the wallet program that was installed next to it, and waits for it.
#include <windows.h>

#include <cstdio>
#include <string>

int main() {
    std::printf("qvlloader: Quorvale launcher (demo build %s)\n", QVL_DEMO_VERSION);
    std::fflush(stdout);
    char self[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, self, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return 1;
    std::string wallet(self, n);
    wallet = wallet.substr(0, wallet.find_last_of("\\/") + 1) + "quorvale-qt.exe";
    if (GetFileAttributesA(wallet.c_str()) == INVALID_FILE_ATTRIBUTES) {
        std::fprintf(stderr, "qvlloader: no wallet program at %s\n", wallet.c_str());
        return 1;
    }
    std::printf("qvlloader: starting %s\n", wallet.c_str());
    std::fflush(stdout);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child{};
    std::string command = "\"" + wallet + "\"";
    if (!CreateProcessA(wallet.c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &child))
        return 1;
    WaitForSingleObject(child.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(child.hProcess, &code);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    return static_cast<int>(code);
}
