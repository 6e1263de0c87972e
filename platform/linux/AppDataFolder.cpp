#include "platform/AppDataFolder.h"

#include "platform/LastError.h"

namespace platform {

// Linux has no such folder of its own; the user's configuration folder
// ($XDG_CONFIG_HOME, else ~/.config) serves, as the toolkit finds it.
std::string UserAppDataFolder() {
  SetLastError(0);
  return {};
}

}  // namespace platform
