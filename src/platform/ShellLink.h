#pragma once
// A shortcut to a program, saved as a freedesktop desktop entry (the platform's shortcut),
// shaped like the shell link object of the Windows shell: set the target, the description and
// the show command, then save it under a file name.
#include <optional>
#include <string>

namespace qvl::platform {

constexpr int kSwShow = 5;  // show the window normally

class ShellLink {
public:
    // `name` is what desktops show for the entry (Name=).
    explicit ShellLink(std::string name);

    // The program the shortcut starts: a Windows or host path, mapped with HostPath on save.
    void SetPath(std::string target);
    // The entry's tooltip text (Comment=).
    void SetDescription(std::string description);
    // How the program's window is shown. Desktop entries know only the normal window, which is
    // what 5 asks for, so the value is kept but writes nothing.
    void SetShowCmd(int showCmd);
    int ShowCmd() const { return showCmd_; }

    // The desktop entry's text; nothing when the link cannot be written (see Save).
    // Exec= is the target's host path quoted by the desktop-entry rules.
    std::optional<std::string> Contents() const;

    // Writes the entry to `fileName` (a host path), mode 0755, replacing any file there. The
    // file is written beside the target under a temporary name and renamed over it, so a failed
    // save leaves no new file and never a half-written one over an existing shortcut.
    // Returns false on any failure, and when there is nothing a desktop could launch: an empty
    // target (a desktop entry of an application must name a program), or a value the format
    // cannot carry (not UTF-8, or a control character other than tab, line feed and return).
    // On Windows the .lnk is written with an empty target too (its target path is then empty),
    // and the link object refusing a value does not stop the save; false there means no file
    // name, no link object, or a failed write. Never throws.
    bool Save(const std::string& fileName) const noexcept;

private:
    std::string name_;
    std::string target_;
    std::string description_;
    int showCmd_ = kSwShow;
};

// The Exec= quoting of the desktop-entry rules for one argument, before the file's string
// escapes: an argument with a reserved character is put in double quotes, inside which `"`,
// "`", "$" and "\" get a backslash; "%" is doubled everywhere. Exposed for tests.
std::string QuoteExecArgument(const std::string& argument);

// The file-level escapes of a desktop-entry string value: "\" becomes "\\", tab, line feed and
// return become \t \n \r, and leading and trailing blanks become \s. Exposed for tests.
std::string EscapeDesktopValue(const std::string& value);

}  // namespace qvl::platform
