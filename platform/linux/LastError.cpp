#include "platform/LastError.h"

#include <utility>

#include "platform/SystemText.h"

#include <cerrno>
#include <cstring>

namespace platform {

static_assert(kErrorInvalidParameter == EINVAL && kErrorInvalidHandle == EBADF && kErrorNoDevice == ENODEV);

namespace {
thread_local int t_lastError = 0;
}

int GetLastError() noexcept { return t_lastError; }
void SetLastError(int code) noexcept { t_lastError = code; }

std::string SystemErrorMessage(int code) {
  std::string text;
  if (code == kErrorIoPending) {
    text = "Overlapped I/O operation is in progress";
  } else {
    char buffer[256];
    // GNU strerror_r returns the text, which may or may not be in 'buffer'.
    const char* s = strerror_r(code, buffer, sizeof buffer);
    text = s ? s : "";
  }
  return TrimSystemText(std::move(text));
}

bool IsDeviceGone(int code) noexcept { return code == EIO || code == ENXIO || code == ENODEV; }

}  // namespace platform
