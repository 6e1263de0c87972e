#include "Pty.h"

#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace bench {
namespace {

[[noreturn]] void Fail(const std::string& what) {
  throw std::runtime_error(what + ": " + std::strerror(errno));
}

void MakeRaw(int fd) {
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) Fail("tcgetattr");
  cfmakeraw(&tio);
  if (tcsetattr(fd, TCSANOW, &tio) != 0) Fail("tcsetattr");
}

}  // namespace

Pty::Pty() {
  char name[256] = {};
  if (openpty(&master_, &heldSlave_, name, nullptr, nullptr) != 0) Fail("openpty");
  slavePath_ = name;
  const int flags = fcntl(master_, F_GETFL);
  if (flags < 0 || fcntl(master_, F_SETFL, flags | O_NONBLOCK) != 0) Fail("fcntl");
  fcntl(master_, F_SETFD, FD_CLOEXEC);
  fcntl(heldSlave_, F_SETFD, FD_CLOEXEC);
  MakeRaw(heldSlave_);
}

Pty::~Pty() {
  if (heldSlave_ >= 0) close(heldSlave_);
  if (master_ >= 0) close(master_);
}

void Pty::Reset() {
  ioctl(heldSlave_, TIOCNXCL);
  tcflush(heldSlave_, TCIOFLUSH);
  char sink[4096];
  while (read(master_, sink, sizeof sink) > 0) {
  }
  MakeRaw(heldSlave_);
}

}  // namespace bench
