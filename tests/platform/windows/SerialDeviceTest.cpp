// The Windows serial device on pseudo-terminals that the bridge maps to COM
// names: the system's own comm device under Wine, driven with overlapped
// requests. The test plays the far end over the bridge's connection. A
// wait that must be woken is first seen under way (AwaitBlockedCalls), so
// nothing depends on timing; a result that is due is waited for within a
// generous limit.
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

bool UnderWine() { return ::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr; }

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

  // A wait whose events are due.
  WaitResult WaitWithin() {
    auto waiter = std::async(std::launch::async, [this] { return Wait(); });
    return Outcome(waiter);
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

  std::string Read(uint32_t count) {
    std::string buffer(count, '\0');
    Event event(true, false);
    Overlapped read{&event};
    uint32_t n = 0;
    if (device->ReadFile(buffer.data(), count, read)) {
      EXPECT_TRUE(event.IsSet());
      EXPECT_TRUE(device->GetOverlappedResult(read, n, false));
    } else {
      EXPECT_EQ(GetLastError(), kErrorIoPending);
      const ::platform::Outcome o = End(read, event);
      EXPECT_TRUE(o.ok) << SystemErrorMessage(o.error);
      n = o.count;
    }
    return buffer.substr(0, n);
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

  uint32_t Queued() {
    uint32_t errors = 0;
    COMSTAT status;
    EXPECT_TRUE(device->ClearCommError(errors, &status));
    return status.cbInQue;
  }

  void SetEventChar(char c) {
    DCB dcb;
    ASSERT_TRUE(device->GetCommState(dcb));
    dcb.EvtChar = c;
    ASSERT_TRUE(device->SetCommState(dcb));
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
  if (!UnderWine()) {
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

TEST_F(WindowsSerialDeviceTest, EveryCallFailsAfterCloseAndCloseIsIdempotent) {
  device->Close();
  device->Close();
  DCB dcb;
  COMMTIMEOUTS timeouts;
  uint32_t value = 0;
  COMSTAT status;
  Overlapped record;
  char byte = 0;
  const std::pair<const char*, std::function<bool()>> calls[] = {
      {"GetCommState", [&] { return device->GetCommState(dcb); }},
      {"SetCommState", [&] { return device->SetCommState(Line(9600)); }},
      {"SetupComm", [&] { return device->SetupComm(64, 64); }},
      {"GetCommTimeouts", [&] { return device->GetCommTimeouts(timeouts); }},
      {"SetCommTimeouts", [&] { return device->SetCommTimeouts({}); }},
      {"PurgeComm", [&] { return device->PurgeComm(PURGE_RXCLEAR); }},
      {"FlushFileBuffers", [&] { return device->FlushFileBuffers(); }},
      {"SetCommMask", [&] { return device->SetCommMask(EV_RXCHAR); }},
      {"GetCommMask", [&] { return device->GetCommMask(value); }},
      {"WaitCommEvent", [&] { return device->WaitCommEvent(value, record); }},
      {"ReadFile", [&] { return device->ReadFile(&byte, 1, record); }},
      {"WriteFile", [&] { return device->WriteFile("x", 1, record); }},
      {"ClearCommError", [&] { return device->ClearCommError(value, &status); }},
      {"TransmitCommChar", [&] { return device->TransmitCommChar('x'); }},
      {"SetCommBreak", [&] { return device->SetCommBreak(); }},
      {"EscapeCommFunction", [&] { return device->EscapeCommFunction(SETXON); }},
      {"GetCommModemStatus", [&] { return device->GetCommModemStatus(value); }},
  };
  for (const auto& [name, call] : calls) {
    SetLastError(0);
    EXPECT_FALSE(call()) << name;
    EXPECT_EQ(GetLastError(), kErrorInvalidHandle) << name;
  }
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

TEST_F(WindowsSerialDeviceTest, QueueSizesAndTimeouts) {
  for (auto [in, out] : {std::pair<uint32_t, uint32_t>{0, 2048}, {4096, 0}, {0x80000000u, 2048}}) {
    EXPECT_FALSE(device->SetupComm(in, out)) << in << " " << out;
    EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
  }
  EXPECT_TRUE(device->SetupComm(4096, 2048)) << SystemErrorMessage(GetLastError());

  const COMMTIMEOUTS set{1, 2, 3, 4, 5};
  ASSERT_TRUE(device->SetCommTimeouts(set));
  COMMTIMEOUTS got;
  ASSERT_TRUE(device->GetCommTimeouts(got));
  EXPECT_EQ(std::memcmp(&got, &set, sizeof set), 0);
  EXPECT_FALSE(device->SetCommTimeouts({0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0, 0}));
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
}

TEST_F(WindowsSerialDeviceTest, BytesGoBothWaysUnchangedAndInOrder) {
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  EXPECT_TRUE(Write(all));
  EXPECT_EQ(pty.Receive(all.size()), all);

  ASSERT_TRUE(pty.Send(all));
  EXPECT_EQ(Read(static_cast<uint32_t>(all.size())), all);

  // With a wait under way (which may read ahead), the bytes still come in
  // order, and the queue counts every byte not yet read.
  ASSERT_TRUE(device->SetCommMask(EV_RXCHAR));
  for (int round = 0; round < 3; ++round) {
    auto waiter = WaitInBackground();
    ASSERT_TRUE(pty.Send("12345"));
    const WaitResult w = Outcome(waiter);
    ASSERT_TRUE(w.ok) << SystemErrorMessage(w.error);
    EXPECT_EQ(w.events, EV_RXCHAR);
    std::string got;
    while (got.size() < 5) {
      const uint32_t queued = Queued();
      got += Read(queued > 0 ? queued : 1);
    }
    EXPECT_EQ(got, "12345") << round;
  }
  uint32_t errors = 99;
  COMSTAT status;
  ASSERT_TRUE(device->ClearCommError(errors, &status));
  EXPECT_EQ(errors, 0u);
  EXPECT_EQ(status.cbOutQue, 0u);
}

TEST_F(WindowsSerialDeviceTest, ReceivedBytesAndTheEventCharacterEndAWait) {
  SetEventChar('\n');
  ASSERT_TRUE(device->SetCommMask(EV_RXCHAR));
  auto waiter = WaitInBackground();
  ASSERT_TRUE(pty.Send("hello"));
  WaitResult w = Outcome(waiter);
  EXPECT_TRUE(w.ok) << SystemErrorMessage(w.error);
  EXPECT_EQ(w.events, EV_RXCHAR);
  EXPECT_EQ(Read(5), "hello");

  if (!device->OwnWaits())
    GTEST_SKIP() << "the system's wait reports the event character on Windows; Wine never does";
  ASSERT_TRUE(device->SetCommMask(EV_RXFLAG));
  waiter = WaitInBackground();
  ASSERT_TRUE(pty.Send("\n"));
  w = Outcome(waiter);
  EXPECT_TRUE(w.ok) << SystemErrorMessage(w.error);
  EXPECT_EQ(w.events, EV_RXFLAG);
  EXPECT_EQ(Read(1), "\n");
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

TEST_F(WindowsSerialDeviceTest, SettingTheMaskEndsAWaitWithNoEvents) {
  ASSERT_TRUE(device->SetCommMask(EV_RXCHAR));
  auto waiter = WaitInBackground();
  ASSERT_TRUE(device->SetCommMask(EV_RXCHAR | EV_RXFLAG));
  const WaitResult w = Outcome(waiter);
  EXPECT_TRUE(w.ok) << SystemErrorMessage(w.error);
  EXPECT_EQ(w.events, 0u);
  uint32_t mask = 0;
  ASSERT_TRUE(device->GetCommMask(mask));
  EXPECT_EQ(mask, EV_RXCHAR | EV_RXFLAG);
}

// What the device adds to the system's wait: an empty mask, the caller's
// stop flag, and events put back for the next wait.
TEST_F(WindowsSerialDeviceTest, EmptyMaskStopFlagAndPutBackEvents) {
  ASSERT_TRUE(device->SetCommMask(0));
  uint32_t events = 0xFFFF;
  Overlapped wait;
  EXPECT_FALSE(device->WaitCommEvent(events, wait));
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);

  ASSERT_TRUE(device->SetCommMask(EV_RXCHAR | EV_RXFLAG));
  std::atomic<bool> stop{true};
  wait.Abandon = &stop;
  EXPECT_TRUE(device->WaitCommEvent(events, wait));
  EXPECT_EQ(events, 0u);

  // Put back while nobody waits: the next wait returns them at once;
  // events outside the mask are dropped.
  device->PutBackEvents(EV_RXFLAG | EV_TXEMPTY);
  EXPECT_EQ(WaitWithin().events, EV_RXFLAG);

  // Put back while a wait is under way: it ends, and the wait that follows
  // returns them.
  auto waiter = WaitInBackground();
  device->PutBackEvents(EV_RXCHAR);
  const WaitResult w = Outcome(waiter);
  EXPECT_TRUE(w.ok) << SystemErrorMessage(w.error);
  EXPECT_EQ(w.events, 0u);
  EXPECT_EQ(WaitWithin().events, EV_RXCHAR);
}

TEST_F(WindowsSerialDeviceTest, CloseEndsAWaitAndAPendingRead) {
  ASSERT_TRUE(device->SetCommMask(EV_RXCHAR));
  auto waiter = WaitInBackground();
  ASSERT_TRUE(device->SetCommMask(EV_RXCHAR));  // may leave the read ahead standing
  EXPECT_EQ(Outcome(waiter).events, 0u);
  waiter = WaitInBackground();
  char buffer[4];
  Event readEvent(true, false);
  Overlapped read{&readEvent};
  ASSERT_FALSE(device->ReadFile(buffer, sizeof buffer, read));
  ASSERT_EQ(GetLastError(), kErrorIoPending);
  // A thread blocked on the read's result is released too.
  auto blocked = std::async(std::launch::async, [&] {
    uint32_t n = 0;
    return device->GetOverlappedResult(read, n, true) ? 0 : GetLastError();
  });

  device->Close();
  // The read has ended by the time Close returns.
  EXPECT_TRUE(readEvent.IsSet());
  ASSERT_EQ(blocked.wait_for(std::chrono::milliseconds(kDueMs)), std::future_status::ready);
  EXPECT_EQ(blocked.get(), ERROR_OPERATION_ABORTED);
  const WaitResult w = Outcome(waiter);
  EXPECT_TRUE(w.ok) << "a wait ended by Close reports no events, not a failure: " << SystemErrorMessage(w.error);
  EXPECT_EQ(w.events, 0u);
  EXPECT_TRUE(OpenSerialDevice(pty.path())) << "a closed port opens again at once";
}

TEST_F(WindowsSerialDeviceTest, PurgeDropsReceivedBytesAndEndsAPendingRead) {
  ASSERT_TRUE(device->SetCommMask(EV_RXCHAR));
  auto waiter = WaitInBackground();
  ASSERT_TRUE(pty.Send("old"));
  ASSERT_EQ(Outcome(waiter).events, EV_RXCHAR);
  EXPECT_FALSE(device->PurgeComm(0x10));
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
  ASSERT_TRUE(device->PurgeComm(PURGE_RXCLEAR | PURGE_TXCLEAR)) << SystemErrorMessage(GetLastError());
  EXPECT_EQ(Queued(), 0u);
  ASSERT_TRUE(pty.Send("new"));
  EXPECT_EQ(Read(3), "new");

  char buffer[4];
  Event event(true, false);
  Overlapped read{&event};
  ASSERT_FALSE(device->ReadFile(buffer, sizeof buffer, read));
  ASSERT_EQ(GetLastError(), kErrorIoPending);
  // A record still in flight cannot be issued again.
  EXPECT_FALSE(device->ReadFile(buffer, sizeof buffer, read));
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
  ASSERT_TRUE(device->PurgeComm(PURGE_RXABORT));
  const ::platform::Outcome o = End(read, event);
  EXPECT_FALSE(o.ok);
  EXPECT_EQ(o.error, ERROR_OPERATION_ABORTED);
  EXPECT_TRUE(device->FlushFileBuffers()) << SystemErrorMessage(GetLastError());
}

TEST_F(WindowsSerialDeviceTest, AHangUpEndsTheWaitAsADeviceThatIsGone) {
  ASSERT_TRUE(device->SetCommMask(EV_RXCHAR));
  auto waiter = WaitInBackground();
  pty.CloseMaster();
  const WaitResult w = Outcome(waiter);
  EXPECT_FALSE(w.ok) << "events " << w.events;
  EXPECT_TRUE(IsDeviceGone(w.error)) << w.error << ": " << SystemErrorMessage(w.error);
}

// Under Wine a pseudo-terminal has no modem lines: reading them fails, and
// the device waits by itself (the component's double covers modem lines).
TEST_F(WindowsSerialDeviceTest, WhatAPseudoTerminalCannotDoUnderWine) {
  if (!UnderWine())
    GTEST_SKIP() << "Wine's pseudo-terminals only";
  EXPECT_TRUE(device->OwnWaits());
  uint32_t status = 0;
  EXPECT_FALSE(device->GetCommModemStatus(status));
  for (uint32_t function : {SETDTR, CLRDTR, SETRTS, CLRRTS})
    EXPECT_FALSE(device->EscapeCommFunction(function)) << function;
  EXPECT_FALSE(device->EscapeCommFunction(42));
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
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
