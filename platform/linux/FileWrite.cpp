#include "platform/linux/FileWrite.h"

#include <unistd.h>

#include <cerrno>

namespace platform {

bool WriteAll(int fd, const void* data, std::size_t size, std::size_t* written) {
  const char* p = static_cast<const char*>(data);
  if (written != nullptr) *written = 0;
  while (size > 0) {
    const ssize_t n = ::write(fd, p, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    size -= static_cast<std::size_t>(n);
    if (written != nullptr) *written += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace platform
