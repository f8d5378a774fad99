#include "installer/UserProxySettings.h"

namespace qvl {

// A Linux desktop has no proxy setting that every program shares; the environment is it.
std::optional<UserProxySettings> ReadUserProxySettings() { return std::nullopt; }

}  // namespace qvl
