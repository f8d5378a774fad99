#include "installer/ShortcutFiles.h"

namespace qvl {

const char kFolderSeparator[] = "/";
const char kShortcutExtension[] = ".desktop";

}  // namespace qvl
