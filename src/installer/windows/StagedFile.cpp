#include "installer/StagedFile.h"

#include <random>

#include "framework/Exception.h"
#include "platform/windows/Win32.h"

namespace qvl {
namespace {

// Six characters from the letters and digits, as mkstemp makes them.
std::string RandomSuffix() {
    static const char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    static std::mt19937 generator{std::random_device{}()};
    std::uniform_int_distribution<size_t> pick(0, sizeof kChars - 2);
    std::string suffix(6, 'X');
    for (char& c : suffix) c = kChars[pick(generator)];
    return suffix;
}

// Flushes the file's contents, so that a crash after the move cannot leave an empty program.
bool Flush(const std::string& path) {
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const bool ok = ::FlushFileBuffers(file) != FALSE;
    ::CloseHandle(file);
    return ok;
}

}  // namespace

StagedFile::StagedFile(const std::string& target) : target_(target), hostTarget_(target) {
    const std::size_t slash = hostTarget_.find_last_of("\\/");
    const std::string folder = slash == std::string::npos ? std::string() : hostTarget_.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? hostTarget_ : hostTarget_.substr(slash + 1);
    // Same folder, so that the move stays on one volume; hidden, so that nobody takes the
    // unfinished file for the program.
    for (int attempt = 0; attempt < 100; ++attempt) {
        path_ = folder + "." + name + "." + RandomSuffix();
        HANDLE file = ::CreateFileA(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            ::CloseHandle(file);
            return;
        }
        if (::GetLastError() != ERROR_FILE_EXISTS) return;
    }
}

StagedFile::~StagedFile() {
    if (pending_) ::DeleteFileA(path_.c_str());
}

// Windows files carry no execute bit: any file named .exe can be run.
void StagedFile::Commit(bool /*executable*/) {
    ::SetFileAttributesA(path_.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!Flush(path_) ||
        !::MoveFileExA(path_.c_str(), hostTarget_.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        throw EFCreateError(target_);
    pending_ = false;
}

}  // namespace qvl
