// What every system's serial device promises beyond the Win32 model, and
// the model's own rules, on real pseudo-terminals (on Windows the bridge's,
// mapped to COM names): refusals with the platform's codes, a closed device,
// waits that a mask change, put-back events or Close end, transfers that a
// purge or Close ends, a hang-up. The test plays the far end. A wait that
// must be woken is first seen under way (AwaitBlockedCalls); a result that
// is due is taken within a generous limit.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <future>
#include <string>
#include <utility>

#include "platform/LastError.h"
#include "platform/PtyPair.h"
#include "platform/SerialDevice.h"
#ifdef _WIN32
#include "platform/windows/WindowsSerialDevice.h"
#else
#include "platform/linux/LinuxSerialDevice.h"
#endif

namespace platform {
namespace {

#ifdef _WIN32
using SystemDevice = WindowsSerialDevice;
constexpr int kCancelled = 995;  // ERROR_OPERATION_ABORTED
#else
using SystemDevice = LinuxSerialDevice;
constexpr int kCancelled = 125;  // ECANCELED
#endif

constexpr auto kDue = std::chrono::seconds(10);  // a generous limit, not a pace

DCB Line(uint32_t rate) {
  DCB dcb;
  dcb.BaudRate = rate;
  dcb.ByteSize = 8;
  dcb.Flags = fBinary | DTR_CONTROL_DISABLE | RTS_CONTROL_DISABLE;
  dcb.XonChar = 17;
  dcb.XoffChar = 19;
  return dcb;
}

struct Result {
  bool ok = false;
  uint32_t value = 0;  // the events of a wait, the count of a transfer
  int error = 0;
};

class SerialDeviceContractTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty.ok());
    device = SystemDevice::Open(pty.path());
    ASSERT_TRUE(device) << pty.path() << ": " << SystemErrorMessage(GetLastError());
    ASSERT_TRUE(device->SetCommState(Line(115200))) << SystemErrorMessage(GetLastError());
  }

  // One wait, taken to its end either way: at once, blocking, or queued and
  // then waited for.
  Result Wait() {
    Result r;
    Event event(false, false);
    Overlapped wait{&event};
    if (device->WaitCommEvent(r.value, wait)) {
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

  // A wait on another thread, known to be under way when this returns.
  std::future<Result> WaitInBackground() {
    auto waiter = std::async(std::launch::async, [this] { return Wait(); });
    device->AwaitBlockedCalls(1);
    return waiter;
  }

  // The outcome of a call that must end by itself; one that does not within
  // the limit is ended by closing the device.
  Result Outcome(std::future<Result>& call) {
    if (call.wait_for(kDue) != std::future_status::ready) {
      ADD_FAILURE() << "the call did not end";
      device->Close();
    }
    return call.get();
  }

  Result WaitWithin() {
    auto waiter = std::async(std::launch::async, [this] { return Wait(); });
    return Outcome(waiter);
  }

  // How a transfer ends: at once, or waited for within the limit.
  Result End(bool issued, Overlapped& record) {
    if (!issued && GetLastError() != kErrorIoPending) {
      Result r;
      r.error = GetLastError();
      return r;
    }
    return Finish(record);
  }

  // The outcome of a transfer under way, waited for within the limit.
  Result Finish(Overlapped& record) {
    auto result = std::async(std::launch::async, [&] {
      Result e;
      e.ok = device->GetOverlappedResult(record, e.value, true);
      e.error = e.ok ? 0 : GetLastError();
      return e;
    });
    return Outcome(result);
  }

  std::string Read(uint32_t count) {
    std::string buffer(count, '\0');
    Event event(true, false);
    Overlapped read{&event};
    const Result r = End(device->ReadFile(buffer.data(), count, read), read);
    EXPECT_TRUE(r.ok) << SystemErrorMessage(r.error);
    EXPECT_TRUE(event.IsSet());
    return buffer.substr(0, r.value);
  }

  bool Write(const std::string& bytes) {
    Event event(true, false);
    Overlapped write{&event};
    const Result r = End(device->WriteFile(bytes.data(), static_cast<uint32_t>(bytes.size()), write), write);
    return r.ok && r.value == bytes.size();
  }

  uint32_t Queued() {
    uint32_t errors = 0;
    COMSTAT status;
    EXPECT_TRUE(device->ClearCommError(errors, &status));
    return status.cbInQue;
  }

  PtyPair pty;
  std::shared_ptr<SystemDevice> device;
};

}  // namespace

TEST_F(SerialDeviceContractTest, EveryCallFailsAfterCloseAndCloseIsIdempotent) {
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
  EXPECT_TRUE(SystemDevice::Open(pty.path())) << "a closed device opens again at once";
}

// The component reads the block, changes what its settings name and
// writes it back: what a fresh device reports must be taken back as it is.
TEST(SerialDeviceContract, AFreshDevicesStateIsTakenBackAsItIs) {
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  SerialDevicePtr device = OpenSerialDevice(pty.path());
  ASSERT_TRUE(device) << SystemErrorMessage(GetLastError());
  DCB dcb;
  ASSERT_TRUE(device->GetCommState(dcb)) << SystemErrorMessage(GetLastError());
  EXPECT_EQ(dcb.DCBlength, sizeof(DCB));
  EXPECT_TRUE(IsValidDcb(dcb));
  EXPECT_TRUE(device->SetCommState(dcb)) << SystemErrorMessage(GetLastError());
}

TEST_F(SerialDeviceContractTest, RefusedSettingsAreInvalidParametersAndChangeNothing) {
  DCB xonIsXoff = Line(9600);
  xonIsXoff.Flags |= fOutX;
  xonIsXoff.XoffChar = xonIsXoff.XonChar;
  DCB noDtrMode = Line(9600);
  noDtrMode.Flags |= fDtrControlMask;
  DCB fourBits = Line(9600), nineBits = Line(9600), badParity = Line(9600), badStop = Line(9600);
  fourBits.ByteSize = 4;
  nineBits.ByteSize = 9;
  badParity.Parity = 5;
  badStop.StopBits = 3;
  for (const DCB& dcb : {Line(0), fourBits, nineBits, badParity, badStop, xonIsXoff, noDtrMode}) {
    SetLastError(0);
    EXPECT_FALSE(device->SetCommState(dcb));
    EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
  }
  DCB got;
  ASSERT_TRUE(device->GetCommState(got));
  EXPECT_EQ(got.BaudRate, 115200u);

  for (auto [in, out] : {std::pair<uint32_t, uint32_t>{0, 2048}, {4096, 0}, {0x80000000u, 2048},
                         {4096, 0xFFFFFFFFu}}) {
    EXPECT_FALSE(device->SetupComm(in, out)) << in << " " << out;
    EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
  }
  EXPECT_TRUE(device->SetupComm(4096, 2048)) << SystemErrorMessage(GetLastError());

  const COMMTIMEOUTS set{1, 2, 3, 4, 5};
  ASSERT_TRUE(device->SetCommTimeouts(set));
  COMMTIMEOUTS timeouts;
  ASSERT_TRUE(device->GetCommTimeouts(timeouts));
  EXPECT_EQ(std::memcmp(&timeouts, &set, sizeof set), 0);
  // "Return on the first byte" without a finite limit names no behaviour.
  EXPECT_FALSE(device->SetCommTimeouts({0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0, 0}));
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
  EXPECT_FALSE(device->PurgeComm(0x10));
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
}

TEST_F(SerialDeviceContractTest, BytesGoBothWaysUnchangedAndInOrder) {
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  EXPECT_TRUE(Write(all));
  EXPECT_EQ(pty.Receive(all.size()), all);
  ASSERT_TRUE(pty.Send(all));
  EXPECT_EQ(Read(static_cast<uint32_t>(all.size())), all);

  // Received bytes end a wait; the queue counts every byte not yet read,
  // and reads of what it counts take them in order.
  ASSERT_TRUE(device->SetCommMask(EV_RXCHAR));
  for (int round = 0; round < 3; ++round) {
    auto waiter = WaitInBackground();
    ASSERT_TRUE(pty.Send("12345"));
    const Result w = Outcome(waiter);
    ASSERT_TRUE(w.ok) << SystemErrorMessage(w.error);
    EXPECT_EQ(w.value, EV_RXCHAR);
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
  EXPECT_EQ(status.cbInQue, 0u);
}

TEST_F(SerialDeviceContractTest, TheEventCharacterEndsAWait) {
  DCB dcb;
  ASSERT_TRUE(device->GetCommState(dcb));
  dcb.EvtChar = '\n';
  ASSERT_TRUE(device->SetCommState(dcb));
  ASSERT_TRUE(device->SetCommMask(EV_RXFLAG));
  auto waiter = WaitInBackground();
  ASSERT_TRUE(pty.Send("ab\n"));
  const Result w = Outcome(waiter);
  EXPECT_TRUE(w.ok) << SystemErrorMessage(w.error);
  EXPECT_EQ(w.value, EV_RXFLAG);
  EXPECT_EQ(Read(3), "ab\n");
}

// A handler that does not read still hears of every later arrival.
TEST_F(SerialDeviceContractTest, ArrivalsAreReportedWhileNothingIsRead) {
  ASSERT_TRUE(device->SetCommMask(EV_RXCHAR));
  for (const char* bytes : {"x", "y", "z"}) {
    auto waiter = WaitInBackground();
    ASSERT_TRUE(pty.Send(bytes));
    const Result w = Outcome(waiter);
    EXPECT_TRUE(w.ok) << SystemErrorMessage(w.error);
    EXPECT_EQ(w.value, EV_RXCHAR) << bytes;
  }
  EXPECT_EQ(Queued(), 3u);
  EXPECT_EQ(Read(3), "xyz");
}

// Each arrival is reported once: a wait that begins while reported bytes
// are still unread waits for the next arrival (a handler that reads after
// the next wait began gets no batch with nothing to read).
TEST_F(SerialDeviceContractTest, BytesAlreadyReportedAreNotReportedAgain) {
  ASSERT_TRUE(device->SetCommMask(EV_RXCHAR));
  auto first = WaitInBackground();
  ASSERT_TRUE(pty.Send("hello"));
  EXPECT_EQ(Outcome(first).value, EV_RXCHAR);
  std::atomic<bool> more{false};
  auto second = std::async(std::launch::async, [&] {
    const Result r = Wait();
    if (!more)
      device->Close();  // ended without a new arrival: the reads below fail
    return r;
  });
  device->AwaitBlockedCalls(1);
  EXPECT_EQ(Read(5), "hello");
  more = true;
  ASSERT_TRUE(pty.Send("!"));
  const Result w = Outcome(second);
  EXPECT_TRUE(w.ok) << SystemErrorMessage(w.error);
  EXPECT_EQ(w.value, EV_RXCHAR);
  EXPECT_EQ(Read(1), "!");
}

TEST_F(SerialDeviceContractTest, SettingTheMaskEndsAWaitWithNoEvents) {
  ASSERT_TRUE(device->SetCommMask(EV_RXCHAR));
  auto waiter = WaitInBackground();
  ASSERT_TRUE(device->SetCommMask(EV_RXCHAR | EV_RXFLAG));
  const Result w = Outcome(waiter);
  EXPECT_TRUE(w.ok) << SystemErrorMessage(w.error);
  EXPECT_EQ(w.value, 0u);
  uint32_t mask = 0;
  ASSERT_TRUE(device->GetCommMask(mask));
  EXPECT_EQ(mask, EV_RXCHAR | EV_RXFLAG);
}

// A thread stopped between its checks must not sleep for ever: with an
// empty mask no event could end its wait, and a wait whose stop flag is set
// does not begin. Events put back are returned by the next wait, also when
// one was under way already.
TEST_F(SerialDeviceContractTest, EmptyMaskStopFlagAndPutBackEvents) {
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

  // Events outside the mask are dropped.
  device->PutBackEvents(EV_RXFLAG | EV_TXEMPTY);
  EXPECT_EQ(WaitWithin().value, EV_RXFLAG);

  auto waiter = WaitInBackground();
  device->PutBackEvents(EV_RXCHAR);
  const Result w = Outcome(waiter);
  EXPECT_TRUE(w.ok) << SystemErrorMessage(w.error);
  // Either the wait under way returns them, or it ends empty and the next
  // one does.
  EXPECT_EQ(w.value == 0 ? WaitWithin().value : w.value, EV_RXCHAR);
}

TEST_F(SerialDeviceContractTest, CloseEndsAWaitAndAPendingRead) {
  ASSERT_TRUE(device->SetCommMask(EV_RXCHAR));
  auto waiter = WaitInBackground();
  char buffer[4];
  Event readEvent(true, false);
  Overlapped read{&readEvent};
  ASSERT_FALSE(device->ReadFile(buffer, sizeof buffer, read));
  ASSERT_EQ(GetLastError(), kErrorIoPending);
  // A thread blocked on the read's result is released too.
  auto blocked = std::async(std::launch::async, [&] {
    Result r;
    r.ok = device->GetOverlappedResult(read, r.value, true);
    r.error = r.ok ? 0 : GetLastError();
    return r;
  });

  device->Close();
  EXPECT_TRUE(readEvent.IsSet()) << "the read has ended when Close returns";
  EXPECT_EQ(Outcome(blocked).error, kCancelled);
  const Result w = Outcome(waiter);
  EXPECT_TRUE(w.ok) << "a wait ended by Close reports no events, not a failure: " << SystemErrorMessage(w.error);
  EXPECT_EQ(w.value, 0u);
  EXPECT_TRUE(SystemDevice::Open(pty.path())) << "a closed device opens again at once";
}

TEST_F(SerialDeviceContractTest, PurgeDropsReceivedBytesAndEndsAPendingRead) {
  ASSERT_TRUE(device->SetCommMask(EV_RXCHAR));
  auto waiter = WaitInBackground();
  ASSERT_TRUE(pty.Send("old"));
  ASSERT_EQ(Outcome(waiter).value, EV_RXCHAR);
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
  const Result r = Finish(read);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, kCancelled);
  EXPECT_TRUE(device->FlushFileBuffers()) << SystemErrorMessage(GetLastError());
}

TEST_F(SerialDeviceContractTest, AHangUpEndsTheWaitAsADeviceThatIsGone) {
  ASSERT_TRUE(device->SetCommMask(EV_RXCHAR));
  auto waiter = WaitInBackground();
  pty.CloseMaster();
  const Result w = Outcome(waiter);
  EXPECT_FALSE(w.ok) << "events " << w.value;
  EXPECT_TRUE(IsDeviceGone(w.error)) << w.error << ": " << SystemErrorMessage(w.error);
}

}  // namespace platform
