#pragma once
// Shared pieces of the tests of qvlsetup-signed-testable (built with the two test release keys
// the build made): the release the tests serve, signed by scripts/sign-release or by hand with
// the openssl command line, and what a run leaves on the machine and asks of the server.
#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "ReleaseFiles.h"
#include "UserMachine.h"
#include "support/NginxFixture.h"
#include "support/OpensslSigner.h"
#include "support/TempDir.h"

namespace qvl::test {

using Lines = std::vector<std::string>;

inline const std::string kRefusedList = "Verification failure: the release list failed verification - nothing was downloaded";

// The two keys built in: the first, and the one that replaces it.
inline const OpensslKey& BuildKey() {
    static const OpensslKey key{std::filesystem::path(QVL_TEST_RELEASE_KEY_PRIVATE)};
    return key;
}
inline const OpensslKey& SecondBuildKey() {
    static const OpensslKey key{std::filesystem::path(QVL_TEST_RELEASE_KEY_2_PRIVATE)};
    return key;
}

struct ServedFile {
    std::string name;
    std::string bytes;
};

inline std::vector<ServedFile> Release() {
    return {{"qvlloader.exe", kLauncher}, {"quorvale-qt.exe", kWallet}, {"version.txt", kVersion}, {"qvlchain.exe", ChainArchive()}};
}

// The four files, signed with the build's first key (scripts/sign-release `options`).
inline void ServeSigned(const NginxFixture& nginx, const std::string& options = "") {
    for (const ServedFile& f : Release()) nginx.WriteFile(f.name, f.bytes);
    BuildKey().SignRelease(nginx.Root(), options);
}

// A manifest written by hand: the heading, `serial`, `expires` and a file line per file.
inline std::string Manifest(const std::vector<ServedFile>& files, const std::string& serial = "1",
                            const std::string& expires = "2099-12-31T23:59:59Z") {
    std::string text = "qvl-release 1\nserial " + serial + "\nexpires " + expires + "\n";
    TempDir dir;
    for (const ServedFile& f : files) {
        WriteFileBytes(dir / "f", f.bytes);
        const std::string sum = Shell("sha256sum < '" + (dir / "f").string() + "'").substr(0, 64);
        text += "file " + sum + " " + std::to_string(f.bytes.size()) + " " + f.name + "\n";
    }
    return text;
}

// Serves `manifest` signed by `key` in place of what the server has.
inline void ServeManifest(const NginxFixture& nginx, const std::string& manifest, const OpensslKey& key = BuildKey()) {
    nginx.WriteFile("RELEASE", manifest);
    nginx.WriteFile("RELEASE.sig", key.Sign(manifest));
}

inline UserMachine::Environment Server(const NginxFixture& nginx, UserMachine::Environment more = {}) {
    more.insert(more.begin(), {"QVL_TEST_BASE_URL", nginx.BaseUrl()});
    return more;
}

// The program's own lines on standard error (the unattended boxes), without "qvlsetup: ".
inline Lines OwnLines(const std::string& err) {
    Lines out;
    for (size_t start = 0; start < err.size();) {
        const size_t end = std::min(err.find('\n', start), err.size());
        const std::string line = err.substr(start, end - start);
        if (line.rfind("qvlsetup: ", 0) == 0) out.push_back(line.substr(10));
        start = end + 1;
    }
    return out;
}

inline bool Has(const Lines& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// What is installed: every file below the app and chain folders (the record of the accepted
// release among them), with its size and a hash of its bytes. Temporary files ("." + name +
// ".XXXXXX") would show here too.
inline std::vector<std::string> Installed(const UserMachine& machine) {
    std::vector<std::string> out;
    for (const std::string& folder : {machine.Home() + "/Quorvale", machine.AppData()}) {
        if (!std::filesystem::exists(folder)) continue;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
            if (!entry.is_regular_file()) continue;
            const std::string bytes = ReadFileBytes(entry.path());
            out.push_back(entry.path().string() + " " + std::to_string(bytes.size()) + " " +
                          std::to_string(std::hash<std::string>()(bytes)));
        }
    }
    std::sort(out.begin(), out.end());
    return out;
}

inline Lines RequestLines(const NginxFixture& nginx, size_t from = 0) {
    Lines out;
    const auto requests = nginx.Requests();
    for (size_t i = from; i < requests.size(); ++i) out.push_back(requests[i].requestLine);
    return out;
}

inline RunResult Install(const UserMachine& machine, const NginxFixture& nginx, const std::string& log,
                         const std::string& select = "program,blockchain") {
    return machine.Run(QVLSETUP_SIGNED, {"--unattended", "--select", select, "--log", log}, Server(nginx));
}

// The record of the accepted release in the machine's chain folder.
inline std::string AcceptedRecord(const UserMachine& machine) { return machine.AppData() + "/Quorvale/release-accepted"; }

}  // namespace qvl::test
