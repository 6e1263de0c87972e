#include "Pty.h"

#include <fcntl.h>
#include <sys/inotify.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>
#include <utility>

namespace gwsim {
namespace {

[[noreturn]] void ThrowSystemError(const std::string& what) {
  throw std::system_error(errno, std::generic_category(), what);
}

void MakeRaw(const std::string& slavePath) {
  Fd slave(open(slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (slave.Get() < 0) ThrowSystemError("cannot open " + slavePath);
  termios attributes{};
  if (tcgetattr(slave.Get(), &attributes) != 0) ThrowSystemError("cannot read the terminal mode");
  cfmakeraw(&attributes);
  attributes.c_cflag |= CLOCAL | CREAD;
  cfsetispeed(&attributes, B115200);
  cfsetospeed(&attributes, B115200);
  if (tcsetattr(slave.Get(), TCSANOW, &attributes) != 0) {
    ThrowSystemError("cannot set the terminal to raw mode");
  }
}

}  // namespace

Fd::Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

Fd& Fd::operator=(Fd&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) close(fd_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

Fd::~Fd() {
  if (fd_ >= 0) close(fd_);
}

PseudoTerminal::PseudoTerminal() {
  master_ = Fd(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (master_.Get() < 0) ThrowSystemError("cannot open a pseudo-terminal");
  if (grantpt(master_.Get()) != 0 || unlockpt(master_.Get()) != 0) {
    ThrowSystemError("cannot unlock the pseudo-terminal");
  }
  char name[128];
  if (int error = ptsname_r(master_.Get(), name, sizeof name); error != 0) {
    errno = error;
    ThrowSystemError("cannot name the pseudo-terminal");
  }
  slavePath_ = name;
  MakeRaw(slavePath_);
  int flags = fcntl(master_.Get(), F_GETFL);
  if (flags < 0 || fcntl(master_.Get(), F_SETFL, flags | O_NONBLOCK) != 0) {
    ThrowSystemError("cannot make the pseudo-terminal non-blocking");
  }
}

Fd PseudoTerminal::WatchSlaveOpens() const {
  Fd watch(inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
  if (watch.Get() < 0) ThrowSystemError("cannot watch the terminal");
  if (inotify_add_watch(watch.Get(), slavePath_.c_str(), IN_OPEN) < 0) {
    ThrowSystemError("cannot watch " + slavePath_);
  }
  return watch;
}

}  // namespace gwsim
