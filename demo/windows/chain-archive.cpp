// qvlchain.exe of the demo download server, for Windows: a self-extracting archive of a small
// sample chain folder. The installer runs it with no arguments and waits for it. It unpacks
// into the chain directory, which it finds as the installer does: %APPDATA%\Quorvale\, and adds
// a line saying what it unpacked to qvlchain.log there (its output has no console to go to when
// a window program starts it).
//
// The payload follows the program itself (demo/windows/pack-archive appends it):
//   for each file: "<size> <path with />\n" and then <size> bytes;
//   at the very end: "QVLPAYLOAD" and the payload's offset as 16 decimal digits.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr char kMagic[] = "QVLPAYLOAD";
constexpr size_t kMagicSize = sizeof kMagic - 1;
constexpr size_t kTrailerSize = kMagicSize + 16;

struct File {
    explicit File(const char* name, const char* mode) : f(std::fopen(name, mode)) {}
    ~File() {
        if (f) std::fclose(f);
    }
    FILE* f;
};

int Fail(const char* why) {
    std::fprintf(stderr, "qvlchain: %s; nothing more was unpacked\n", why);
    return 2;
}

// Makes every folder level of `path` up to its last separator.
void MakeFolders(const std::string& path) {
    for (size_t i = 3; i < path.size(); ++i)
        if (path[i] == '\\') CreateDirectoryA(path.substr(0, i).c_str(), nullptr);
}

}  // namespace

int main() {
    std::printf("qvlchain: Quorvale blockchain archive (demo build %s)\n", QVL_DEMO_VERSION);
    const char* appdata = std::getenv("APPDATA");
    if (!appdata || !*appdata) return Fail("APPDATA is not set");
    const std::string chaindir = std::string(appdata) + "\\Quorvale\\";
    std::printf("qvlchain: default location: %s\n", chaindir.c_str());

    char self[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, self, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return Fail("cannot find the archive itself");
    File archive(self, "rb");
    if (!archive.f || _fseeki64(archive.f, -static_cast<long long>(kTrailerSize), SEEK_END) != 0)
        return Fail("cannot read the archive");
    char trailer[kTrailerSize + 1] = {};
    if (std::fread(trailer, 1, kTrailerSize, archive.f) != kTrailerSize || std::memcmp(trailer, kMagic, kMagicSize) != 0)
        return Fail("the archive has no payload");
    const long long start = std::atoll(trailer + kMagicSize);
    const long long end = _ftelli64(archive.f) - static_cast<long long>(kTrailerSize);
    if (_fseeki64(archive.f, start, SEEK_SET) != 0) return Fail("the archive is damaged");

    MakeFolders(chaindir);
    int count = 0;
    std::vector<char> buffer(65536);
    while (_ftelli64(archive.f) < end) {
        char line[1024];
        if (!std::fgets(line, sizeof line, archive.f)) return Fail("the archive is damaged");
        char* name = nullptr;
        const long long size = std::strtoll(line, &name, 10);
        if (size < 0 || !name || *name != ' ') return Fail("the archive is damaged");
        std::string path = chaindir + std::string(name + 1, std::strcspn(name + 1, "\r\n"));
        for (char& c : path)
            if (c == '/') c = '\\';
        MakeFolders(path);
        File out(path.c_str(), "wb");
        if (!out.f) return Fail("cannot write into the chain directory");
        for (long long left = size; left > 0;) {
            const size_t chunk = static_cast<size_t>(left < 65536 ? left : 65536);
            if (std::fread(buffer.data(), 1, chunk, archive.f) != chunk) return Fail("the archive is damaged");
            if (std::fwrite(buffer.data(), 1, chunk, out.f) != chunk) return Fail("cannot write into the chain directory");
            left -= static_cast<long long>(chunk);
        }
        ++count;
    }
    std::printf("qvlchain: unpacked %d files into %s\n", count, chaindir.c_str());
    File log((chaindir + "qvlchain.log").c_str(), "ab");
    if (log.f) std::fprintf(log.f, "qvlchain: unpacked %d files into %s\n", count, chaindir.c_str());
    return 0;
}
