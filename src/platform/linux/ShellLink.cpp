#include "platform/ShellLink.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

#include "framework/HostPath.h"

namespace qvl::platform {

namespace {

// Characters that make an Exec argument need quotes, as the desktop-entry rules list them.
bool IsReserved(char c) {
    switch (c) {
    case ' ': case '\t': case '\n': case '"': case '\'': case '\\': case '>': case '<':
    case '~': case '|': case '&': case ';': case '$': case '*': case '?': case '#':
    case '(': case ')': case '`':
        return true;
    default:
        return false;
    }
}

// Desktop entries are UTF-8 text; a string value may hold no control character except the
// three that have escapes.
bool IsRepresentable(const std::string& value) {
    const auto* p = reinterpret_cast<const unsigned char*>(value.data());
    const auto* end = p + value.size();
    while (p < end) {
        const unsigned char c = *p;
        if (c < 0x80) {
            if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0x7f) return false;
            ++p;
            continue;
        }
        int more;
        unsigned cp;
        if (c >= 0xc2 && c <= 0xdf) { more = 1; cp = c & 0x1f; }
        else if (c >= 0xe0 && c <= 0xef) { more = 2; cp = c & 0x0f; }
        else if (c >= 0xf0 && c <= 0xf4) { more = 3; cp = c & 0x07; }
        else return false;
        if (end - p <= more) return false;
        for (int i = 1; i <= more; ++i) {
            if ((p[i] & 0xc0) != 0x80) return false;
            cp = (cp << 6) | (p[i] & 0x3f);
        }
        // Overlong forms, UTF-16 surrogates and values past U+10FFFF are not UTF-8.
        if ((more == 2 && cp < 0x800) || (more == 3 && cp < 0x10000) || cp > 0x10ffff ||
            (cp >= 0xd800 && cp <= 0xdfff))
            return false;
        p += more + 1;
    }
    return true;
}

// Owns a temporary file until it has been renamed into place; removes it otherwise.
class TempFile {
public:
    explicit TempFile(const std::string& target) : path_(TemplateFor(target)) {
        fd_ = ::mkstemp(path_.data());
        if (fd_ < 0) path_.clear();
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    ~TempFile() {
        if (fd_ >= 0) ::close(fd_);
        if (!path_.empty()) ::unlink(path_.c_str());
    }

    bool IsOpen() const { return fd_ >= 0; }

    bool Write(const std::string& data) {
        std::size_t done = 0;
        while (done < data.size()) {
            const ssize_t n = ::write(fd_, data.data() + done, data.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            done += static_cast<std::size_t>(n);
        }
        return true;
    }

    // Sets the mode, flushes the contents to disk and closes; then renames over `target`.
    bool Commit(const std::string& target, mode_t mode) {
        if (::fchmod(fd_, mode) != 0 || ::fsync(fd_) != 0) return false;
        const int fd = std::exchange(fd_, -1);
        if (::close(fd) != 0) return false;
        if (::rename(path_.c_str(), target.c_str()) != 0) return false;
        path_.clear();
        return true;
    }

private:
    // A hidden name in the same folder, so that the rename stays on one file system and no
    // desktop picks the unfinished file up as an entry.
    static std::string TemplateFor(const std::string& target) {
        const std::size_t slash = target.rfind('/');
        const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
        const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
        return folder + "." + base + ".XXXXXX";
    }

    std::string path_;
    int fd_ = -1;
};

}  // namespace

std::string QuoteExecArgument(const std::string& argument) {
    bool quote = argument.empty();
    for (char c : argument)
        if (IsReserved(c)) quote = true;
    std::string out;
    if (quote) out += '"';
    for (char c : argument) {
        if (c == '%') {
            out += "%%";
            continue;
        }
        if (quote && (c == '"' || c == '`' || c == '$' || c == '\\')) out += '\\';
        out += c;
    }
    if (quote) out += '"';
    return out;
}

std::string EscapeDesktopValue(const std::string& value) {
    std::size_t first = 0;
    while (first < value.size() && value[first] == ' ') ++first;
    std::size_t last = value.size();
    while (last > first && value[last - 1] == ' ') --last;
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case ' ':
            // Blanks around the "=" are not part of the value, so edge blanks must be escaped.
            out += (i < first || i >= last) ? "\\s" : " ";
            break;
        default: out += c;
        }
    }
    return out;
}

ShellLink::ShellLink(std::string name) : name_(std::move(name)) {}

void ShellLink::SetPath(std::string target) { target_ = std::move(target); }

void ShellLink::SetDescription(std::string description) { description_ = std::move(description); }

void ShellLink::SetShowCmd(int showCmd) { showCmd_ = showCmd; }

std::optional<std::string> ShellLink::Contents() const {
    // A Windows link may point nowhere; a desktop entry of an application without a program is
    // invalid and no desktop can start it, so an empty target writes nothing rather than a
    // shortcut that only fails when clicked.
    if (target_.empty()) return std::nullopt;
    const std::string exec = QuoteExecArgument(HostPath(target_));
    if (!IsRepresentable(name_) || !IsRepresentable(description_) || !IsRepresentable(exec))
        return std::nullopt;
    std::string text = "[Desktop Entry]\n";
    text += "Type=Application\n";
    text += "Name=" + EscapeDesktopValue(name_) + "\n";
    if (!description_.empty()) text += "Comment=" + EscapeDesktopValue(description_) + "\n";
    text += "Exec=" + EscapeDesktopValue(exec) + "\n";
    text += "Terminal=false\n";
    return text;
}

bool ShellLink::Save(const std::string& fileName) const noexcept {
    try {
        const std::optional<std::string> text = Contents();
        if (!text || fileName.empty()) return false;
        TempFile temp(fileName);
        return temp.IsOpen() && temp.Write(*text) && temp.Commit(fileName, 0755);
    } catch (...) {
        // Only allocation can throw here; the temporary file is gone with `temp`.
        return false;
    }
}

}  // namespace qvl::platform
