// Only kernel headers here: <asm/termbits.h> and glibc's <termios.h> define
// the same names differently and cannot meet in one translation unit.
#include "platform/linux/Termios2.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>

namespace platform {

namespace {

bool Get(int fd, termios2& t) { return ::ioctl(fd, TCGETS2, &t) == 0; }
bool Set(int fd, const termios2& t) { return ::ioctl(fd, TCSETS2, &t) == 0; }

tcflag_t RateCode(uint32_t rate) {
  static constexpr struct {
    uint32_t rate;
    tcflag_t code;
  } kStandard[] = {
      {50, B50},         {75, B75},           {110, B110},         {134, B134},
      {150, B150},       {200, B200},         {300, B300},         {600, B600},
      {1200, B1200},     {1800, B1800},       {2400, B2400},       {4800, B4800},
      {9600, B9600},     {19200, B19200},     {38400, B38400},     {57600, B57600},
      {115200, B115200}, {230400, B230400},   {460800, B460800},   {500000, B500000},
      {576000, B576000}, {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
      {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
      {3500000, B3500000}, {4000000, B4000000},
  };
  for (const auto& s : kStandard) {
    if (s.rate == rate)
      return s.code;
  }
  return BOTHER;
}

// Raw mode: bytes pass unchanged in both directions. The flow-control bits
// (IXON, IXOFF) are left alone. The descriptor is non-blocking, so reads
// never wait; VMIN 1 makes an empty read fail with EAGAIN, so that a read
// of 0 bytes means only one thing: the line has hung up (with VMIN 0 an
// empty queue reads as 0 too).
void SetRaw(termios2& t) {
  t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                      IXANY | IUCLC | IMAXBEL);
  t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
  t.c_cflag |= CREAD | CLOCAL;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
}

}  // namespace

bool ReadLineSettings(int fd, LineSettings& s) {
  termios2 t{};
  if (!Get(fd, t))
    return false;
  // The kernel keeps the real output rate in c_ospeed whatever form set it.
  s.baudRate = t.c_ospeed;
  switch (t.c_cflag & CSIZE) {
    case CS5: s.dataBits = 5; break;
    case CS6: s.dataBits = 6; break;
    case CS7: s.dataBits = 7; break;
    default: s.dataBits = 8; break;
  }
  if (!(t.c_cflag & PARENB))
    s.parity = LineParity::None;
  else if (t.c_cflag & CMSPAR)
    s.parity = (t.c_cflag & PARODD) ? LineParity::Mark : LineParity::Space;
  else
    s.parity = (t.c_cflag & PARODD) ? LineParity::Odd : LineParity::Even;
  s.twoStopBits = (t.c_cflag & CSTOPB) != 0;
  s.parityCheck = (t.c_iflag & INPCK) != 0;
  s.rtsCts = (t.c_cflag & CRTSCTS) != 0;
  s.xonOutput = (t.c_iflag & IXON) != 0;
  s.xonInput = (t.c_iflag & IXOFF) != 0;
  s.xonChar = static_cast<char>(t.c_cc[VSTART]);
  s.xoffChar = static_cast<char>(t.c_cc[VSTOP]);
  return true;
}

TerminalFlags EncodeLineSettings(const LineSettings& s, TerminalFlags f) {
  termios2 t{};
  t.c_iflag = f.iflag;
  t.c_oflag = f.oflag;
  t.c_cflag = f.cflag;
  t.c_lflag = f.lflag;
  SetRaw(t);

  // A standard rate keeps its B-constant, so programs that know only those
  // still read the rate; any other goes as BOTHER with the number itself.
  const tcflag_t code = RateCode(s.baudRate);
  t.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
  t.c_cflag |= code | (code << IBSHIFT);

  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  switch (s.dataBits) {
    case 5: t.c_cflag |= CS5; break;
    case 6: t.c_cflag |= CS6; break;
    case 7: t.c_cflag |= CS7; break;
    default: t.c_cflag |= CS8; break;
  }
  switch (s.parity) {
    case LineParity::None: break;
    case LineParity::Odd: t.c_cflag |= PARENB | PARODD; break;
    case LineParity::Even: t.c_cflag |= PARENB; break;
    case LineParity::Mark: t.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case LineParity::Space: t.c_cflag |= PARENB | CMSPAR; break;
  }
  if (s.twoStopBits)
    t.c_cflag |= CSTOPB;
  if (s.rtsCts)
    t.c_cflag |= CRTSCTS;

  t.c_iflag &= ~static_cast<tcflag_t>(INPCK | IXON | IXOFF);
  if (s.parityCheck)
    t.c_iflag |= INPCK;
  if (s.xonOutput)
    t.c_iflag |= IXON;
  if (s.xonInput)
    t.c_iflag |= IXOFF;
  return TerminalFlags{t.c_iflag, t.c_oflag, t.c_cflag, t.c_lflag};
}

bool WriteLineSettings(int fd, const LineSettings& s) {
  if (s.dataBits < 5 || s.dataBits > 8) {
    errno = EINVAL;
    return false;
  }
  termios2 t{};
  if (!Get(fd, t))
    return false;
  const TerminalFlags f = EncodeLineSettings(s, {t.c_iflag, t.c_oflag, t.c_cflag, t.c_lflag});
  t.c_iflag = f.iflag;
  t.c_oflag = f.oflag;
  t.c_cflag = f.cflag;
  t.c_lflag = f.lflag;
  t.c_ispeed = s.baudRate;
  t.c_ospeed = s.baudRate;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  t.c_cc[VSTART] = static_cast<cc_t>(s.xonChar);
  t.c_cc[VSTOP] = static_cast<cc_t>(s.xoffChar);
  return Set(fd, t);
}

bool MakeRaw(int fd) {
  termios2 t{};
  if (!Get(fd, t))
    return false;
  SetRaw(t);
  // Software flow control starts off, as a serial driver starts: the tty
  // layer's interactive default (IXON) would swallow every XON and XOFF
  // byte of binary data and stop output at the first XOFF received. It is
  // switched on through the device control block.
  t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF);
  return Set(fd, t);
}

}  // namespace platform
