#include "installer/ShortcutFiles.h"

namespace qvl {

const char kFolderSeparator[] = "\\";
const char kShortcutExtension[] = ".lnk";

}  // namespace qvl
