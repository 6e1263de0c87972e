#include "platform/AppDataFolder.h"

#include "platform/LastError.h"

#include <shlobj.h>
#include <windows.h>

namespace platform {

std::string UserAppDataFolder() {
  char folder[MAX_PATH] = {};
  const HRESULT result = ::SHGetFolderPathA(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder);
  if (FAILED(result)) {
    // A failure HRESULT from a Win32 code carries it; keep that code.
    SetLastError(HRESULT_FACILITY(result) == FACILITY_WIN32 ? HRESULT_CODE(result) : ERROR_PATH_NOT_FOUND);
    return {};
  }
  SetLastError(0);
  return folder;
}

}  // namespace platform
