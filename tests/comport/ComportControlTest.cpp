// Line and modem control of the port: each operation's driver call, the
// modem lines read back, the device name the configuration dialogs use. On
// the device double and on pseudo-terminals whose far end the test holds.
#include <QVariant>
#include <cstring>
#include <functional>

#include "ComportTestSupport.h"
#include "framework/StoredDescription.h"
#include "platform/LastError.h"

using namespace comporttest;

namespace {

// One control operation, the driver call it makes and, for the escape
// functions, the function code it passes.
struct ControlOperation {
  const char* name;
  std::function<void(TCustomComPort&)> run;
  Op call;
  uint32_t function;  // 0: not an escape function
};

const std::vector<ControlOperation>& ControlOperations() {
  static const std::vector<ControlOperation> operations = {
      {"TransmitChar", [](TCustomComPort& p) { p.TransmitChar('A'); }, Op::TransmitCommChar, 0},
      {"SetBreak", [](TCustomComPort& p) { p.SetBreak(); }, Op::SetCommBreak, 0},
      {"ClearBreak", [](TCustomComPort& p) { p.ClearBreak(); }, Op::ClearCommBreak, 0},
      {"SetDTR", [](TCustomComPort& p) { p.SetDTR(); }, Op::EscapeCommFunction, 5},
      {"ClearDTR", [](TCustomComPort& p) { p.ClearDTR(); }, Op::EscapeCommFunction, 6},
      {"SetRTS", [](TCustomComPort& p) { p.SetRTS(); }, Op::EscapeCommFunction, 3},
      {"ClearRTS", [](TCustomComPort& p) { p.ClearRTS(); }, Op::EscapeCommFunction, 4},
      {"SetXOn", [](TCustomComPort& p) { p.SetXOn(); }, Op::EscapeCommFunction, 2},
      {"SetXOff", [](TCustomComPort& p) { p.SetXOff(); }, Op::EscapeCommFunction, 1},
      {"ResetDevice", [](TCustomComPort& p) { p.ResetDevice(); }, Op::EscapeCommFunction, 7},
      {"GetModemStatus", [](TCustomComPort& p) { p.GetModemStatus(); }, Op::GetCommModemStatus, 0},
  };
  return operations;
}

// An open port on the device double.
struct OpenFakePort : FakePort {
  OpenFakePort() { port.Open(); }
};

}  // namespace

TEST(ComportControl, EveryOperationOnAClosedPortRaisesBeforeAnyDriverCall) {
  OpenFakePort f;
  f.port.Close();
  f.device->ClearCallLog();
  for (const ControlOperation& operation : ControlOperations()) {
    SCOPED_TRACE(operation.name);
    const EComError e = CatchComError([&] { operation.run(f.port); });
    EXPECT_EQ(e.ComErrorCode, 0);
    EXPECT_EQ(std::string(e.what()), kClosedPortError);
  }
  EXPECT_TRUE(f.device->CallLog().empty());
}

// Each operation makes its one driver call, and a failing call raises with
// the driver's code and the system's text.
TEST(ComportControl, EachOperationMakesItsDriverCallThroughCheck) {
  OpenFakePort f;
  for (const ControlOperation& operation : ControlOperations()) {
    SCOPED_TRACE(operation.name);
    f.device->ClearCallLog();
    const size_t escapesBefore = f.device->EscapeFunctions().size();
    operation.run(f.port);
    EXPECT_EQ(f.device->CallLog(), std::vector<Op>{operation.call});
    const std::vector<uint32_t> escapes = f.device->EscapeFunctions();
    if (operation.function != 0) {
      ASSERT_EQ(escapes.size(), escapesBefore + 1);
      EXPECT_EQ(escapes.back(), operation.function);
    } else {
      EXPECT_EQ(escapes.size(), escapesBefore);
    }

    f.device->FailOnce(operation.call, EPERM);
    const EComError e = CatchComError([&] { operation.run(f.port); });
    EXPECT_EQ(e.ComErrorCode, EPERM);
    EXPECT_EQ(std::string(e.what()), platform::SystemErrorMessage(EPERM));
  }
  EXPECT_EQ(f.device->Written(), "A");  // the failed one sent nothing
}

TEST(ComportControl, BreakFollowsSetAndClear) {
  OpenFakePort f;
  f.port.SetBreak();
  EXPECT_TRUE(f.device->BreakOn());
  f.port.ClearBreak();
  EXPECT_FALSE(f.device->BreakOn());
}

TEST(ComportControl, ModemStatusTakesTheFourLineBitsOnly) {
  OpenFakePort f;
  const struct {
    uint32_t word;
    TModemStatus expected;
  } cases[] = {
      {0x00, {}},
      {0x10, msCTS},
      {0x20, msDSR},
      {0x40, msRing},
      {0x80, msRLSD},
      {0xF0, msCTS | msDSR | msRing | msRLSD},
      {0xFFFFFF0F, {}},  // every other bit
      {0xFFFFFFFF, msCTS | msDSR | msRing | msRLSD},
      {0x0150, msCTS | msRing},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.word);
    f.device->SetModemStatus(c.word);
    EXPECT_EQ(f.port.GetModemStatus(), c.expected);
    // The published property reads the lines too.
    EXPECT_EQ(f.port.property("ModemStatus").value<TModemStatus>(), c.expected);
  }
}

TEST(ComportControl, ADesignTimeInstanceReportsNoModemLinesWithoutADevice) {
  for (const bool active : {false, true}) {
    SCOPED_TRACE(active);
    FakePort f;
    f.port.SetDesigning(true);
    f.port.SetActive(active);
    EXPECT_EQ(f.port.GetModemStatus(), TModemStatus{});
    EXPECT_TRUE(f.openedNames.empty());
  }
}

#ifndef _WIN32  // Windows' prefix "\\.\" has its test in windows/
TEST(ComportControl, ShortDeviceNameDropsTheDevicePrefixOnlyAtTheStart) {
  const struct {
    const char* name;
    const char* expected;
  } cases[] = {
      {"/dev/ttyUSB0", "ttyUSB0"}, {"ttyS3", "ttyS3"},     {"/dev/", ""},
      {"x/dev/y", "x/dev/y"},      {"/dev/pts/4", "pts/4"}, {"", ""},
      {"/dev", "/dev"},
  };
  TComPort port;
  for (const auto& c : cases) {
    port.SetDeviceName(QString::fromUtf8(c.name));
    EXPECT_EQ(port.ShortDeviceName(), QString::fromUtf8(c.expected)) << c.name;
  }
}
#endif

// The control operations act on the line only: the settings, flow control
// among them, keep their values, and the device is not configured again.
TEST(ComportControl, OperationsLeaveTheSettingsAlone) {
  FakePort f;
  f.port.SetBaudRate(br19200);
  f.port.FlowControl()->SetDTRControl(dcHandshake);
  f.port.FlowControl()->SetRTSControl(rcToggle);
  f.port.FlowControl()->SetXOnXOffControl(xcInputOutput);
  f.port.FlowControl()->SetXOnLimit(10);
  f.port.FlowControl()->SetXOffLimit(20);
  f.port.Open();
  const QString stored = WriteComponent(f.port);
  const platform::DCB dcb = f.device->Dcb();
  f.device->ClearCallLog();

  for (const ControlOperation& operation : ControlOperations()) operation.run(f.port);

  EXPECT_EQ(WriteComponent(f.port), stored);
  EXPECT_EQ(f.port.FlowControl()->DTR(), dcHandshake);
  EXPECT_EQ(f.port.FlowControl()->RTS(), rcToggle);
  EXPECT_EQ(f.port.FlowControl()->XOnXOff(), xcInputOutput);
  EXPECT_EQ(f.port.FlowControl()->XOnLimit(), 10);
  EXPECT_EQ(f.port.FlowControl()->XOffLimit(), 20);
  EXPECT_EQ(f.device->Calls(Op::SetCommState), 0);
  const platform::DCB after = f.device->Dcb();
  EXPECT_EQ(std::memcmp(&after, &dcb, sizeof dcb), 0);  // 28 bytes, no padding
}
