// Opening and configuring the Linux serial device on real pseudo-terminals:
// the test holds the master and inspects the terminal the device set up.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/PtyPair.h"
#include "platform/LastError.h"
#include "platform/linux/LinuxSerialDevice.h"
#include "platform/linux/Termios2.h"

uint32_t KernelOutputSpeed(int fd);
uint32_t KernelInputSpeed(int fd);

using namespace platform;

namespace {

termios MasterView(const PtyPair& pty) {
  termios t{};
  ::tcgetattr(pty.master(), &t);  // on a master this reads the slave's attributes
  return t;
}

DCB Line(uint32_t rate, uint8_t bits, uint8_t parity, uint8_t stop) {
  DCB dcb;
  dcb.BaudRate = rate;
  dcb.ByteSize = bits;
  dcb.Parity = parity;
  dcb.StopBits = stop;
  dcb.Flags = fBinary | DTR_CONTROL_ENABLE | RTS_CONTROL_ENABLE;
  dcb.XonChar = 17;
  dcb.XoffChar = 19;
  return dcb;
}

class SerialDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty.ok());
    device = OpenSerialDevice(pty.path());
    ASSERT_TRUE(device) << SystemErrorMessage(GetLastError());
  }
  PtyPair pty;
  SerialDevicePtr device;
};

std::string TempPath(const char* leaf) {
  return std::string(::testing::TempDir()) + "/" + leaf + "-" + std::to_string(::getpid());
}

}  // namespace

TEST(SerialDeviceOpen, RefusesWhatIsNotAnOpenableTerminal) {
  const std::string file = TempPath("plain-file");
  std::FILE* f = std::fopen(file.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  const std::string missing = TempPath("no-such-device");

  struct Case {
    std::string name;
    int code;
  } cases[] = {
      {missing, ENOENT},
      {"", ENOENT},
      {file, ENOTTY},
      {::testing::TempDir(), ENOTTY},  // a folder
      {"/dev/null", ENOTTY},           // a character device that is no terminal
  };
  for (const Case& c : cases) {
    SetLastError(0);
    EXPECT_EQ(OpenSerialDevice(c.name), nullptr) << c.name;
    EXPECT_EQ(GetLastError(), c.code) << c.name;
  }
  struct stat st {};
  EXPECT_NE(::stat(missing.c_str(), &st), 0) << "opening must never create the device";
  ::unlink(file.c_str());
}

TEST_F(SerialDeviceTest, SecondOpenIsBusyAndTheFirstStaysUsable) {
  EXPECT_EQ(OpenSerialDevice(pty.path()), nullptr);
  EXPECT_EQ(GetLastError(), EBUSY);
  EXPECT_EQ(SystemErrorMessage(GetLastError()), "Device or resource busy");

  DCB dcb;
  EXPECT_TRUE(device->GetCommState(dcb));
  Overlapped ov;
  EXPECT_TRUE(device->WriteFile("ok", 2, ov));
  EXPECT_EQ(pty.Receive(2), "ok");

  // Closing releases the device at once.
  device->Close();
  auto again = OpenSerialDevice(pty.path());
  EXPECT_TRUE(again) << SystemErrorMessage(GetLastError());
}

TEST_F(SerialDeviceTest, ApplicationLineSettingsMakeARaw115200EightNoneOneTerminal) {
  ASSERT_TRUE(device->SetCommState(Line(115200, 8, 0, 0)));
  const termios t = MasterView(pty);
  EXPECT_EQ(KernelOutputSpeed(pty.master()), 115200u);
  EXPECT_EQ(KernelInputSpeed(pty.master()), 115200u);
  EXPECT_EQ(::cfgetospeed(&t), static_cast<speed_t>(B115200));
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  EXPECT_EQ(t.c_cflag & (CREAD | CLOCAL), static_cast<tcflag_t>(CREAD | CLOCAL));
  EXPECT_EQ(t.c_lflag & (ECHO | ICANON | ISIG | IEXTEN), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  EXPECT_EQ(t.c_iflag & (ICRNL | IXON | IXOFF | ISTRIP), 0u);
  EXPECT_EQ(t.c_cc[VTIME], 0);
}

TEST_F(SerialDeviceTest, AnyIntegerRateIsSetAndAFreshOpenReportsIt) {
  ASSERT_TRUE(device->SetCommState(Line(250000, 8, 0, 0)));
  EXPECT_EQ(KernelOutputSpeed(pty.master()), 250000u);
  device->Close();

  auto fresh = OpenSerialDevice(pty.path());
  ASSERT_TRUE(fresh);
  DCB dcb;
  ASSERT_TRUE(fresh->GetCommState(dcb));
  EXPECT_EQ(dcb.BaudRate, 250000u);
  EXPECT_EQ(dcb.ByteSize, 8);
  EXPECT_EQ(dcb.Parity, 0);
  EXPECT_EQ(dcb.StopBits, 0);
  EXPECT_TRUE(dcb.Flags & fBinary);
}

// The encoding of every character format. It is checked on the flag words
// because a pseudo-terminal forces eight bits and drops the parity enable.
TEST(LineEncoding, CharacterFormatsAndFlowControl) {
  struct Case {
    LineSettings line;
    tcflag_t size, parityBits;
    bool twoStop;
  } cases[] = {
      {{9600, 8, LineParity::None}, CS8, 0, false},
      {{9600, 7, LineParity::Odd}, CS7, PARENB | PARODD, false},
      {{9600, 6, LineParity::Even, true}, CS6, PARENB, true},
      {{9600, 5, LineParity::Mark}, CS5, PARENB | PARODD | CMSPAR, false},
      {{9600, 8, LineParity::Space, true}, CS8, PARENB | CMSPAR, true},
  };
  // Start from a cooked terminal with every bit the encoding must clear.
  const TerminalFlags cooked{ICRNL | IXON | IXOFF | INPCK | ISTRIP | BRKINT, OPOST | ONLCR,
                             CS7 | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | HUPCL,
                             ECHO | ICANON | ISIG | IEXTEN};
  for (const Case& c : cases) {
    const TerminalFlags f = EncodeLineSettings(c.line, cooked);
    EXPECT_EQ(f.cflag & CSIZE, c.size) << int(c.line.dataBits);
    EXPECT_EQ(f.cflag & (PARENB | PARODD | CMSPAR), c.parityBits) << int(c.line.parity);
    EXPECT_EQ((f.cflag & CSTOPB) != 0, c.twoStop);
    EXPECT_EQ(f.cflag & (CRTSCTS | CREAD | CLOCAL | HUPCL), static_cast<tcflag_t>(CREAD | CLOCAL | HUPCL));
    EXPECT_EQ(f.iflag, 0u);
    EXPECT_EQ(f.oflag & OPOST, 0u);
    EXPECT_EQ(f.lflag & (ECHO | ICANON | ISIG | IEXTEN), 0u);
  }
  LineSettings flow{9600, 8, LineParity::None, false, true, true, true, true};
  const TerminalFlags f = EncodeLineSettings(flow, {});
  EXPECT_EQ(f.iflag, static_cast<tcflag_t>(INPCK | IXON | IXOFF));
  EXPECT_TRUE(f.cflag & CRTSCTS);
}

TEST_F(SerialDeviceTest, CharacterFormatsReachTheTerminal) {
  struct Case {
    uint8_t bits, parity, stop;
    tcflag_t parityBits;  // what a pseudo-terminal keeps of them
    bool twoStop;
  } cases[] = {
      {8, 0, 0, 0, false},
      {7, 1, 0, PARODD, false},
      {7, 2, 2, 0, true},
      {6, 3, 0, PARODD | CMSPAR, false},  // mark
      {5, 4, 1, CMSPAR, true},            // space; 1.5 stop bits as two
  };
  for (const Case& c : cases) {
    const DCB set = Line(9600, c.bits, c.parity, c.stop);
    ASSERT_TRUE(device->SetCommState(set));
    const termios t = MasterView(pty);
    EXPECT_EQ(t.c_cflag & (PARODD | CMSPAR), c.parityBits) << int(c.parity);
    EXPECT_EQ((t.c_cflag & CSTOPB) != 0, c.twoStop) << int(c.stop);
    DCB got;
    ASSERT_TRUE(device->GetCommState(got));
    EXPECT_EQ(std::memcmp(&got, &set, sizeof(DCB)), 0) << int(c.bits) << int(c.parity);
  }
}

TEST_F(SerialDeviceTest, FlowControlAndItsCharactersReachTheTerminal) {
  DCB dcb = Line(19200, 8, 0, 0);
  dcb.Flags |= fOutX | fInX | fOutxCtsFlow | fParity;
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;
  ASSERT_TRUE(device->SetCommState(dcb));
  termios t = MasterView(pty);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF | INPCK), static_cast<tcflag_t>(IXON | IXOFF | INPCK));
  EXPECT_TRUE(t.c_cflag & CRTSCTS);
  EXPECT_EQ(t.c_cc[VSTART], 0x11);
  EXPECT_EQ(t.c_cc[VSTOP], 0x13);

  dcb = Line(19200, 8, 0, 0);
  dcb.Flags = (dcb.Flags & ~fRtsControlMask) | RTS_CONTROL_HANDSHAKE;
  ASSERT_TRUE(device->SetCommState(dcb));
  t = MasterView(pty);
  EXPECT_TRUE(t.c_cflag & CRTSCTS);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF | INPCK), 0u);
}

TEST_F(SerialDeviceTest, RefusedStatesLeaveTheTerminalAsItWas) {
  ASSERT_TRUE(device->SetCommState(Line(38400, 8, 0, 0)));
  DCB xonIsXoff = Line(9600, 8, 0, 0);
  xonIsXoff.Flags |= fOutX;
  xonIsXoff.XoffChar = xonIsXoff.XonChar;
  DCB noDtrMode = Line(9600, 8, 0, 0);
  noDtrMode.Flags |= fDtrControlMask;
  const DCB refused[] = {
      Line(0, 8, 0, 0),  // a rate of 0 would hang the line up
      Line(9600, 4, 0, 0), Line(9600, 9, 0, 0), Line(9600, 8, 5, 0),
      Line(9600, 8, 0, 3), xonIsXoff, noDtrMode,
  };
  for (const DCB& dcb : refused) {
    SetLastError(0);
    EXPECT_FALSE(device->SetCommState(dcb));
    EXPECT_EQ(GetLastError(), EINVAL);
  }
  EXPECT_EQ(KernelOutputSpeed(pty.master()), 38400u);
  EXPECT_EQ(MasterView(pty).c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  // The line is still up.
  Overlapped ov;
  EXPECT_TRUE(device->WriteFile("x", 1, ov));
  EXPECT_EQ(pty.Receive(1), "x");
}

TEST_F(SerialDeviceTest, GetCommStateReturnsExactlyWhatWasSet) {
  DCB set = Line(57600, 7, 3, 1);  // mark parity, 1.5 stop bits
  set.Flags = fBinary | fParity | fOutxDsrFlow | DTR_CONTROL_HANDSHAKE | fDsrSensitivity |
              fTXContinueOnXoff | fInX | fErrorChar | fNull | RTS_CONTROL_TOGGLE | fAbortOnError;
  set.XonLim = 100;
  set.XoffLim = 200;
  set.XonChar = 'Q';
  set.XoffChar = 'S';
  set.ErrorChar = '?';
  set.EofChar = 0x1a;
  set.EvtChar = '\n';
  ASSERT_TRUE(device->SetCommState(set));
  DCB got;
  ASSERT_TRUE(device->GetCommState(got));
  EXPECT_EQ(std::memcmp(&got, &set, sizeof(DCB)), 0);
  EXPECT_EQ(got.StopBits, 1);
  EXPECT_EQ(got.Parity, 3);
  EXPECT_EQ(got.EvtChar, '\n');
}

TEST_F(SerialDeviceTest, AFreshDeviceReportsWhatTheTerminalHolds) {
  device->Close();
  termios t = MasterView(pty);
  ::cfsetispeed(&t, B4800);
  ::cfsetospeed(&t, B4800);
  t.c_cflag |= CSTOPB | CRTSCTS;  // size and parity: a pseudo-terminal keeps 8N
  t.c_iflag |= IXON;
  ASSERT_EQ(::tcsetattr(pty.master(), TCSANOW, &t), 0);

  auto fresh = OpenSerialDevice(pty.path());
  ASSERT_TRUE(fresh);
  DCB dcb;
  ASSERT_TRUE(fresh->GetCommState(dcb));
  EXPECT_EQ(dcb.BaudRate, 4800u);
  EXPECT_EQ(dcb.ByteSize, 8);
  EXPECT_EQ(dcb.Parity, 0);
  EXPECT_EQ(dcb.StopBits, 2);
  EXPECT_TRUE(dcb.Flags & fOutxCtsFlow);
  EXPECT_EQ(dcb.Flags & fRtsControlMask, RTS_CONTROL_HANDSHAKE);
  // Software flow control starts off: the tty layer's interactive default
  // would swallow XON and XOFF bytes of binary data.
  EXPECT_FALSE(dcb.Flags & (fOutX | fInX));
  // Opening made the terminal raw but kept its line settings.
  EXPECT_EQ(KernelOutputSpeed(pty.master()), 4800u);
  EXPECT_EQ(MasterView(pty).c_lflag & (ICANON | ECHO), 0u);

  // Every byte value arrives unchanged, XON, XOFF and CR among them.
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  ASSERT_EQ(::write(pty.master(), all.data(), all.size()), static_cast<ssize_t>(all.size()));
  std::string got(all.size(), '\0');
  COMMTIMEOUTS timeouts;
  timeouts.ReadTotalTimeoutConstant = 5000;  // a generous limit, not a pace
  ASSERT_TRUE(fresh->SetCommTimeouts(timeouts));
  Overlapped ov;
  uint32_t transferred = 0;
  if (!fresh->ReadFile(got.data(), static_cast<uint32_t>(got.size()), ov))
    ASSERT_EQ(GetLastError(), kErrorIoPending);
  ASSERT_TRUE(fresh->GetOverlappedResult(ov, transferred, true));
  EXPECT_EQ(transferred, all.size());
  EXPECT_EQ(got, all);
}

TEST_F(SerialDeviceTest, PurgeClearsReceivedBytesAndRefusesUnknownFlags) {
  uint32_t events = 0;
  Overlapped wait;
  ASSERT_TRUE(device->SetCommMask(EV_RXCHAR));
  ASSERT_TRUE(pty.Send("abc"));
  ASSERT_TRUE(device->WaitCommEvent(events, wait));
  ASSERT_TRUE(pty.Send("def"));

  EXPECT_FALSE(device->PurgeComm(0x10));
  EXPECT_EQ(GetLastError(), EINVAL);
  ASSERT_TRUE(device->PurgeComm(PURGE_RXCLEAR | PURGE_TXCLEAR));
  ASSERT_TRUE(pty.Send("g"));
  char buf[8] = {};
  Overlapped ov;
  ASSERT_TRUE(device->SetCommTimeouts({0, 0, 0, 0, 0}));
  ASSERT_TRUE(device->ReadFile(buf, 1, ov) || GetLastError() == kErrorIoPending);
  uint32_t n = 0;
  ASSERT_TRUE(device->GetOverlappedResult(ov, n, true));
  EXPECT_EQ(std::string(buf, n), "g");
  EXPECT_TRUE(device->FlushFileBuffers());
}

TEST_F(SerialDeviceTest, ModemLineCallsOnAPseudoTerminal) {
  // A pseudo-terminal has no modem lines. The DTR and RTS settings of a
  // device control block pass over that (the open above applied them too),
  // none is reported on, but an explicit order to drive one fails.
  DCB dcb = Line(9600, 8, 0, 0);
  dcb.Flags = fBinary | DTR_CONTROL_DISABLE | RTS_CONTROL_DISABLE;
  EXPECT_TRUE(device->SetCommState(dcb)) << SystemErrorMessage(GetLastError());
  struct Case {
    uint32_t function;
    int error;  // 0: succeeds
  } cases[] = {
      {SETDTR, ENOTTY}, {CLRDTR, ENOTTY}, {SETRTS, ENOTTY}, {CLRRTS, ENOTTY}, {SETBREAK, 0},
      {CLRBREAK, 0},    {SETXOFF, 0},     {SETXON, 0},      {RESETDEV, 0},    {42, EINVAL},
  };
  for (const Case& c : cases) {
    SetLastError(0);
    EXPECT_EQ(device->EscapeCommFunction(c.function), c.error == 0) << c.function;
    if (c.error != 0)
      EXPECT_EQ(GetLastError(), c.error) << c.function;
  }
  uint32_t status = 0xff;
  EXPECT_TRUE(device->GetCommModemStatus(status));
  EXPECT_EQ(status, 0u);
  EXPECT_TRUE(device->SetCommBreak());
  EXPECT_TRUE(device->ClearCommBreak());
  EXPECT_TRUE(device->TransmitCommChar('z'));
  EXPECT_EQ(pty.Receive(1), "z");
}
