// The last error on Windows is the system's own (GetLastError), so a failed
// system call needs no translation, and the texts are the system's.
#include "platform/LastError.h"

#include <utility>

#include "platform/SystemText.h"

#include <windows.h>

#include <string>

namespace platform {

static_assert(kErrorIoPending == ERROR_IO_PENDING);
static_assert(kErrorInvalidParameter == ERROR_INVALID_PARAMETER && kErrorInvalidHandle == ERROR_INVALID_HANDLE &&
              kErrorNoDevice == ERROR_DEV_NOT_EXIST);

int GetLastError() noexcept { return static_cast<int>(::GetLastError()); }

void SetLastError(int code) noexcept { ::SetLastError(static_cast<DWORD>(code)); }

std::string SystemErrorMessage(int code) {
  char buffer[256] = {};
  const DWORD length =
      ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, static_cast<DWORD>(code),
                       0, buffer, sizeof buffer, nullptr);
  std::string text(buffer, length);
  // A code the system has no text for still names itself.
  if (length == 0)
    text = "Error " + std::to_string(static_cast<unsigned long>(static_cast<DWORD>(code)));
  return TrimSystemText(std::move(text));
}

// The codes a serial device's handle gives once its adapter is gone:
// - ERROR_ACCESS_DENIED: the port driver answers every request on a handle
//   of a removed device with "delete pending", which the system reports as
//   access denied (the component's rule for a wait that fails with 5);
// - ERROR_BAD_COMMAND, ERROR_GEN_FAILURE: what USB serial adapters' drivers
//   answer once the adapter has been pulled;
// - ERROR_DEV_NOT_EXIST, ERROR_DEVICE_NOT_CONNECTED, ERROR_DEVICE_REMOVED:
//   the device itself has left the system;
// - ERROR_BROKEN_PIPE: the device's far end is gone (what Wine reports
//   for a terminal that has hung up).
// Not ERROR_OPERATION_ABORTED (a transfer cancelled by a purge or a close)
// nor ERROR_INVALID_HANDLE (a port this program closed): both are normal.
bool IsDeviceGone(int code) noexcept {
  switch (static_cast<DWORD>(code)) {
    case ERROR_ACCESS_DENIED:
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
    case ERROR_BROKEN_PIPE:
      return true;
    default:
      return false;
  }
}

}  // namespace platform
