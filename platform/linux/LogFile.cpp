#include "platform/LogFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/linux/FileOpen.h"
#include "platform/linux/FileWrite.h"
#include "platform/LastError.h"

namespace platform {

namespace {

// A descriptor closed on every path.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int Get() const { return fd_; }

 private:
  int fd_;
};

// Takes back the first 'written' bytes of an entry that could not be written
// whole (the file could not grow), so the log never ends mid-entry. Only
// while they are still the end of the file: another thread's entry after
// them stays.
void DropPartialEntry(int fd, std::size_t written) {
  if (written == 0) return;
  const off_t end = ::lseek(fd, 0, SEEK_CUR);
  struct stat st {};
  if (end < static_cast<off_t>(written) || ::fstat(fd, &st) != 0 || st.st_size != end) return;
  (void)::ftruncate(fd, end - static_cast<off_t>(written));
}

}  // namespace

bool AppendLogEntry(const std::string& path, const void* entry, std::size_t size) {
  // A FIFO or a link planted at the log's name neither blocks nor receives it.
  const FileDescriptor fd(OpenRegularFile(path, O_WRONLY | O_APPEND | O_CREAT));
  if (fd.Get() < 0) {
    SetLastError(errno);
    return false;
  }
  std::size_t written = 0;
  if (!WriteAll(fd.Get(), entry, size, &written)) {
    const int code = errno;
    DropPartialEntry(fd.Get(), written);
    SetLastError(code);
    return false;
  }
  return true;
}

}  // namespace platform
