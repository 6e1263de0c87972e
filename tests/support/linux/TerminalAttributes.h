// A tty's attributes as the kernel holds them (any bit rate). Free of
// <termios.h>, so the reader can use the kernel's own header.
#pragma once

namespace comporttest {

struct TerminalAttributes {
  unsigned inputSpeed = 0;
  unsigned outputSpeed = 0;
  int dataBits = 0;
  bool parity = false;
  bool twoStopBits = false;
};
TerminalAttributes ReadTerminal(int fd);

}  // namespace comporttest
