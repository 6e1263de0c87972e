// Reads a tty's attributes with the kernel's termios2, which holds any bit
// rate. Kept apart: the kernel's header clashes with glibc's <termios.h>.
#include "support/linux/TerminalAttributes.h"

#include <asm/termbits.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>

namespace comporttest {

TerminalAttributes ReadTerminal(int fd) {
  struct termios2 t {};
  TerminalAttributes a;
  if (::ioctl(fd, TCGETS2, &t) != 0) {
    ADD_FAILURE() << "TCGETS2 failed";
    return a;
  }
  a.inputSpeed = t.c_ispeed;
  a.outputSpeed = t.c_ospeed;
  switch (t.c_cflag & CSIZE) {
    case CS5:
      a.dataBits = 5;
      break;
    case CS6:
      a.dataBits = 6;
      break;
    case CS7:
      a.dataBits = 7;
      break;
    default:
      a.dataBits = 8;
      break;
  }
  a.parity = (t.c_cflag & PARENB) != 0;
  a.twoStopBits = (t.c_cflag & CSTOPB) != 0;
  return a;
}

}  // namespace comporttest
