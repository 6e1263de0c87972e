// The user's own folder for application data, as the system names it.
#pragma once

#include <string>

namespace platform {

// The current user's roaming application-data folder, in the system's
// 8-bit encoding and with its own separators: on Windows what the shell
// says for CSIDL_APPDATA ("C:\Users\<user>\AppData\Roaming"). Empty where
// the system keeps no such folder of its own (Linux, where the user's
// configuration folder serves, which the caller's toolkit knows) and when
// it cannot be told (last error set).
std::string UserAppDataFolder();

}  // namespace platform
