// Line control on a Linux pseudo-terminal: it has no modem lines, takes a
// break, and the device lets a transmitted character pass output held by
// XOFF. (Wine's driver reports neither the refusals nor the output queue of
// a pseudo-terminal; the device double covers the component's side there.)
#include <functional>

#include "comport/ComportTestSupport.h"
#include "platform/LastError.h"

using namespace comporttest;

// A pseudo-terminal has no modem lines: configuring the port passes over
// DTR and RTS, the status is the empty set, but raising or dropping a line
// is refused with the system's code. Break works.
TEST(ComportOnPtyControl, ModemLinesAreRefusedAndBreakWorks) {
  Pty pty;
  TComPort port;
  port.SetDeviceName(pty.QPath());
  port.FlowControl()->SetDTRControl(dcDisable);
  port.FlowControl()->SetRTSControl(rcDisable);
  port.Open();
  EXPECT_EQ(port.GetModemStatus(), TModemStatus{});
  EXPECT_NO_THROW(port.SetBreak());
  EXPECT_NO_THROW(port.ClearBreak());
  const std::pair<const char*, std::function<void()>> lines[] = {
      {"SetDTR", [&] { port.SetDTR(); }},
      {"ClearDTR", [&] { port.ClearDTR(); }},
      {"SetRTS", [&] { port.SetRTS(); }},
      {"ClearRTS", [&] { port.ClearRTS(); }},
  };
  for (const auto& [name, operation] : lines) {
    SCOPED_TRACE(name);
    const EComError e = CatchComError(operation);
    EXPECT_EQ(e.ComErrorCode, ENOTTY);
    EXPECT_EQ(std::string(e.what()), platform::SystemErrorMessage(ENOTTY));
  }
  EXPECT_TRUE(port.Active());
}

// The transmitted character goes ahead of a write the device still holds:
// output stopped as if XOFF had come holds all of it until XON.
TEST(ComportOnPtyControl, TheTransmittedCharacterPassesHeldOutput) {
  Pty pty;
  TComPort port;
  port.SetDeviceName(pty.QPath());
  port.Open();
  port.SetXOff();
  port.WriteString("queued");
  EXPECT_TRUE(port.WritePending());
  port.TransmitChar('!');
  EXPECT_EQ(port.OutputCount(), 7);
  port.SetXOn();
  EXPECT_EQ(pty.Receive(7), "!queued");
  port.WaitForWriteCompletion();
  port.TransmitChar('z');
  EXPECT_EQ(pty.Receive(1), "z");
}
