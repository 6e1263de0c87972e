// The Windows serial device on pseudo-terminals that the bridge maps to COM
// names: what is the system's own (opening by name, refusals, the device
// control block as the driver keeps it, transmit-empty, the last error and
// its texts) and what a pseudo-terminal cannot do under Wine. What every
// system's device promises is in SerialDeviceContractTest.cpp. A wait that
// must be woken is first seen under way (AwaitBlockedCalls); a result that
// is due is waited for within a generous limit.
//
// Under Wine a pseudo-terminal has no modem lines, so the system cannot
// wait for events on it: the device waits by itself there (a blocking wait;
// WindowsSerialDevice.h). The tests take a wait's outcome either way, as
// the component does.
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <future>
#include <string>

#include "platform/LastError.h"
#include "platform/PtyPair.h"
#include "platform/SerialDevice.h"
#include "platform/windows/WindowsSerialDevice.h"

// Inside the namespace, DCB, GetLastError and the like are the platform's,
// not the system's of the same names.
namespace platform {
namespace {

constexpr DWORD kDueMs = 10000;  // a generous limit for what is due, not a pace

DCB Line(uint32_t rate) {
  DCB dcb;
  dcb.BaudRate = rate;
  dcb.ByteSize = 8;
  dcb.Flags = fBinary | DTR_CONTROL_DISABLE | RTS_CONTROL_DISABLE;
  dcb.XonChar = 17;
  dcb.XoffChar = 19;
  return dcb;
}

// True when the event is set within the limit.
bool SetWithin(const Event& event, DWORD ms = kDueMs) {
  return ::WaitForSingleObject(static_cast<HANDLE>(event.NativeHandle()), ms) == WAIT_OBJECT_0;
}

struct Outcome {
  bool ok = false;
  int error = 0;
  uint32_t count = 0;
};

struct WaitResult {
  bool ok = false;
  uint32_t events = 0;
  int error = 0;
};

class WindowsSerialDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty.ok()) << "no pseudo-terminal from the bridge (QL75N_PTY_BRIDGE)";
    device = WindowsSerialDevice::Open(pty.path());
    ASSERT_TRUE(device) << pty.path() << ": " << SystemErrorMessage(GetLastError());
    // Reads end after a generous time at most, so a fault fails the test
    // instead of hanging it.
    ASSERT_TRUE(device->SetCommTimeouts({0, 0, kDueMs, 0, kDueMs}));
    ASSERT_TRUE(device->SetCommState(Line(115200)));
  }

  // One wait, taken to its end either way: at once, blocking, or pending
  // and then waited for.
  WaitResult Wait() {
    WaitResult r;
    Event event(false, false);
    Overlapped wait{&event};
    if (device->WaitCommEvent(r.events, wait)) {
      r.ok = true;
      return r;
    }
    r.error = GetLastError();
    if (r.error != kErrorIoPending)
      return r;
    event.Wait();
    uint32_t n = 0;
    r.ok = device->GetOverlappedResult(wait, n, false);
    r.error = r.ok ? 0 : GetLastError();
    return r;
  }

  // A wait on another thread, known to be waiting when this returns.
  std::future<WaitResult> WaitInBackground() {
    auto waiter = std::async(std::launch::async, [this] { return Wait(); });
    device->AwaitBlockedCalls(1);
    return waiter;
  }

  // The outcome of a wait that must end by itself; one that does not within
  // a generous limit is ended by closing the device.
  WaitResult Outcome(std::future<WaitResult>& waiter) {
    if (waiter.wait_for(std::chrono::milliseconds(kDueMs)) != std::future_status::ready) {
      ADD_FAILURE() << "the wait did not end";
      device->Close();
    }
    return waiter.get();
  }

  // How a transfer in flight ends, within the limit.
  ::platform::Outcome End(Overlapped& record, Event& event) {
    ::platform::Outcome o;
    if (!SetWithin(event)) {
      ADD_FAILURE() << "the transfer did not end";
      device->Close();
    }
    o.ok = device->GetOverlappedResult(record, o.count, true);
    o.error = o.ok ? 0 : GetLastError();
    return o;
  }

  bool Write(const std::string& bytes) {
    Event event(true, false);
    Overlapped write{&event};
    if (device->WriteFile(bytes.data(), static_cast<uint32_t>(bytes.size()), write))
      return true;
    if (GetLastError() != kErrorIoPending)
      return false;
    const ::platform::Outcome o = End(write, event);
    return o.ok && o.count == bytes.size();
  }

  PtyPair pty;
  std::shared_ptr<WindowsSerialDevice> device;
};

}  // namespace

TEST(WindowsSerialDeviceOpen, RefusesWhatIsNoOpenableCommDevice) {
  char folder[MAX_PATH] = {};
  ASSERT_NE(::GetTempPathA(sizeof folder, folder), 0u);
  const std::string file = std::string(folder) + "ql75n-plain-file-" + std::to_string(::GetCurrentProcessId());
  std::FILE* f = std::fopen(file.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  const std::string missing = std::string(folder) + "ql75n-no-such-device";

  struct Case {
    std::string name;
    int code;  // 0: any failure
  } cases[] = {
      {"\\\\.\\COM250", ERROR_FILE_NOT_FOUND},  // a COM name mapped to nothing
      {missing, ERROR_FILE_NOT_FOUND},
      {file, ERROR_INVALID_FUNCTION},  // a file is no comm device
      {"NUL", 0},                      // nor is every character device
  };
  for (const Case& c : cases) {
    SetLastError(0);
    EXPECT_EQ(OpenSerialDevice(c.name), nullptr) << c.name;
    if (c.code != 0)
      EXPECT_EQ(GetLastError(), c.code) << c.name << ": " << SystemErrorMessage(GetLastError());
    else
      EXPECT_NE(GetLastError(), 0) << c.name;
  }
  EXPECT_EQ(::GetFileAttributesA(missing.c_str()), INVALID_FILE_ATTRIBUTES) << "opening must never create";
  ::DeleteFileA(file.c_str());
}

TEST_F(WindowsSerialDeviceTest, ASecondOpenIsRefusedAndTheFirstStaysUsable) {
  SetLastError(0);
  SerialDevicePtr second = OpenSerialDevice(pty.path());
  if (!PtyPair::IsStandIn()) {
    // The port drivers keep a port to one handle.
    EXPECT_EQ(second, nullptr);
    const int code = GetLastError();
    EXPECT_TRUE(code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION) << code;
  }
  second.reset();  // Wine lets a second handle in; it is let go again

  EXPECT_TRUE(Write("ok"));
  EXPECT_EQ(pty.Receive(2), "ok");

  // Closing releases the port at once.
  device->Close();
  EXPECT_TRUE(OpenSerialDevice(pty.path())) << SystemErrorMessage(GetLastError());
}

TEST_F(WindowsSerialDeviceTest, TheDeviceControlBlockGoesToTheDriverAndComesBack) {
  // What a pseudo-terminal holds: the rate, the stop bits, software flow
  // control and its characters (it keeps eight bits without parity).
  DCB set = Line(57600);
  set.StopBits = 2;
  set.Flags = fBinary | fOutX | fInX | DTR_CONTROL_DISABLE | RTS_CONTROL_DISABLE;
  set.XonChar = 'Q';
  set.XoffChar = 'S';
  ASSERT_TRUE(device->SetCommState(set)) << SystemErrorMessage(GetLastError());
  DCB got;
  ASSERT_TRUE(device->GetCommState(got));
  EXPECT_EQ(got.DCBlength, sizeof(DCB));
  EXPECT_EQ(got.BaudRate, 57600u);
  EXPECT_EQ(got.ByteSize, 8);
  EXPECT_EQ(got.StopBits, 2);
  EXPECT_EQ(got.Flags & (fOutX | fInX), fOutX | fInX);
  EXPECT_EQ(got.XonChar, 'Q');
  EXPECT_EQ(got.XoffChar, 'S');

  // Blocks no device takes are refused before the driver sees them, and the
  // line keeps its state.
  DCB xonIsXoff = Line(9600);
  xonIsXoff.Flags |= fOutX;
  xonIsXoff.XoffChar = xonIsXoff.XonChar;
  DCB noDtrMode = Line(9600);
  noDtrMode.Flags |= fDtrControlMask;
  DCB fourBits = Line(9600), badParity = Line(9600), badStop = Line(9600);
  fourBits.ByteSize = 4;
  badParity.Parity = 5;
  badStop.StopBits = 3;
  for (const DCB& dcb : {Line(0), fourBits, badParity, badStop, xonIsXoff, noDtrMode}) {
    SetLastError(0);
    EXPECT_FALSE(device->SetCommState(dcb));
    EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
  }
  ASSERT_TRUE(device->GetCommState(got));
  EXPECT_EQ(got.BaudRate, 57600u);
}

TEST_F(WindowsSerialDeviceTest, TransmitEmptyEndsAWaitOnceAWriteHasGone) {
  if (device->OwnWaits())
    GTEST_SKIP() << "the device's own waits report received bytes only";
  ASSERT_TRUE(device->SetCommMask(EV_TXEMPTY));
  auto waiter = WaitInBackground();
  EXPECT_TRUE(Write("ping"));
  const WaitResult w = Outcome(waiter);
  EXPECT_TRUE(w.ok) << SystemErrorMessage(w.error);
  EXPECT_EQ(w.events, EV_TXEMPTY);
  EXPECT_EQ(pty.Receive(4), "ping");
}

// Under Wine a pseudo-terminal has no modem lines: none reads as on,
// driving DTR or RTS fails, and the device waits by itself (the component's tests
// get modem lines and breaks from the device double).
TEST_F(WindowsSerialDeviceTest, WhatAPseudoTerminalCannotDoUnderWine) {
  if (!PtyPair::IsStandIn())
    GTEST_SKIP() << "Wine's pseudo-terminals only";
  EXPECT_TRUE(device->OwnWaits());
  uint32_t status = 0xff;
  EXPECT_TRUE(device->GetCommModemStatus(status));
  EXPECT_EQ(status, 0u);
  for (uint32_t function : {SETDTR, CLRDTR, SETRTS, CLRRTS})
    EXPECT_FALSE(device->EscapeCommFunction(function)) << function;
  EXPECT_FALSE(device->EscapeCommFunction(42));
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
  // The rest is taken (a break sends nothing on a pseudo-terminal), and
  // the character sent ahead arrives.
  for (uint32_t function : {SETXOFF, SETXON, SETBREAK, CLRBREAK, RESETDEV})
    EXPECT_TRUE(device->EscapeCommFunction(function)) << function << ": " << SystemErrorMessage(GetLastError());
  EXPECT_TRUE(device->SetCommBreak());
  EXPECT_TRUE(device->ClearCommBreak());
  EXPECT_TRUE(device->TransmitCommChar('z'));
  EXPECT_EQ(pty.Receive(1), "z");
}

TEST(WindowsLastError, SystemTextsAndTheCodesOfAGoneDevice) {
  for (int code : {int{ERROR_FILE_NOT_FOUND}, kErrorIoPending, int{ERROR_ACCESS_DENIED}}) {
    const std::string text = SystemErrorMessage(code);
    EXPECT_FALSE(text.empty()) << code;
    const char last = text.empty() ? 0 : text.back();
    EXPECT_TRUE(last != '.' && last != ' ' && last != '\n' && last != '\r') << code << ": " << text;
  }
  EXPECT_EQ(SystemErrorMessage(0x2000FFFF), "Error 536936447");
  SetLastError(ERROR_ACCESS_DENIED);
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED)) << "the system's own last error";
  for (int code : {int{ERROR_ACCESS_DENIED}, int{ERROR_GEN_FAILURE}, int{ERROR_BAD_COMMAND}, int{ERROR_DEVICE_NOT_CONNECTED}})
    EXPECT_TRUE(IsDeviceGone(code)) << code;
  for (int code : {0, int{ERROR_OPERATION_ABORTED}, int{ERROR_INVALID_HANDLE}, int{ERROR_IO_PENDING}, int{ERROR_INVALID_PARAMETER}})
    EXPECT_FALSE(IsDeviceGone(code)) << code;
}

}  // namespace platform
