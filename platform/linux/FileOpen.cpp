#include "platform/linux/FileOpen.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

int OpenRegularFile(const std::string& path, int flags, unsigned mode) {
  int fd;
  do {
    fd = ::open(path.c_str(), flags | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC, static_cast<mode_t>(mode));
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return -1;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    const int code = S_ISREG(st.st_mode) || st.st_mode == 0 ? errno : EINVAL;
    ::close(fd);
    errno = code;
    return -1;
  }
  const int status = ::fcntl(fd, F_GETFL);
  if (status >= 0) ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK);
  return fd;
}

}  // namespace platform
