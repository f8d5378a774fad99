#pragma once
// How this host names the files the shortcut operations write: the separator that joins a
// folder and a name, and the extension of a shortcut file.
namespace qvl {

extern const char kFolderSeparator[];    // "/" (Linux), "\" (Windows)
extern const char kShortcutExtension[];  // ".desktop" (a desktop entry), ".lnk" (a shell link)

}  // namespace qvl
