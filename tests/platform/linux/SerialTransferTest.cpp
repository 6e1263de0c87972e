// The driver emulation of the Linux serial device on real pseudo-terminals:
// event waits, the input queue, transfers with timeouts, hang-up. The test
// plays the far end on the master. Waits that must be woken are first
// observed as blocked (AwaitBlockedCalls), so nothing depends on timing.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <future>
#include <sstream>
#include <string>

#include "platform/PtyPair.h"
#include "platform/LastError.h"
#include "platform/linux/LinuxSerialDevice.h"

using namespace platform;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr uint32_t kMax = 0xFFFFFFFFu;

struct WaitResult {
  bool ok = false;
  uint32_t events = 0;
  int error = 0;
};

struct ReadResult {
  bool ok = false;
  std::string bytes;
  int error = 0;
};

class SerialTransferTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty.ok());
    device = LinuxSerialDevice::Open(pty.path());
    ASSERT_TRUE(device) << SystemErrorMessage(GetLastError());
  }

  WaitResult Wait() {
    WaitResult r;
    Overlapped ov;
    r.ok = device->WaitCommEvent(r.events, ov);
    r.error = r.ok ? 0 : GetLastError();
    return r;
  }

  std::future<WaitResult> WaitInBackground() {
    auto f = std::async(std::launch::async, [this] { return Wait(); });
    device->AwaitBlockedCalls(1);
    return f;
  }

  // The outcome of a wait that must end by itself; one that does not within
  // a generous limit is ended by closing the device (and reports mask 0).
  WaitResult Outcome(std::future<WaitResult>& waiter) {
    if (waiter.wait_for(10s) != std::future_status::ready) {
      ADD_FAILURE() << "the wait did not end";
      device->Close();
    }
    return waiter.get();
  }

  // A wait whose events are due: bounded, so a fault fails instead of hanging.
  WaitResult WaitWithin() {
    auto waiter = std::async(std::launch::async, [this] { return Wait(); });
    return Outcome(waiter);
  }

  // A read that waits for its end (issued and then waited for).
  ReadResult Read(uint32_t count) {
    ReadResult r;
    std::string buf(count, '\0');
    Event done(true, false);
    Overlapped ov{&done};
    uint32_t n = 0;
    if (!device->ReadFile(buf.data(), count, ov) && GetLastError() != kErrorIoPending) {
      r.error = GetLastError();
      return r;
    }
    r.ok = device->GetOverlappedResult(ov, n, true);
    r.error = r.ok ? 0 : GetLastError();
    EXPECT_TRUE(done.IsSet());
    r.bytes.assign(buf.data(), n);
    return r;
  }

  COMSTAT Status(uint32_t* errors = nullptr) {
    uint32_t e = 0;
    COMSTAT st;
    EXPECT_TRUE(device->ClearCommError(e, &st));
    if (errors)
      *errors = e;
    return st;
  }

  void SetEventChar(char c) {
    DCB dcb;
    ASSERT_TRUE(device->GetCommState(dcb));
    dcb.EvtChar = c;
    ASSERT_TRUE(device->SetCommState(dcb));
  }

  PtyPair pty;
  std::shared_ptr<LinuxSerialDevice> device;
};

std::string Pattern(size_t n, int seed) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i)
    s[i] = static_cast<char>((i * 7 + seed) & 0xff);
  return s;
}

}  // namespace

TEST_F(SerialTransferTest, ReceivedBytesWakeTheWaitAndAreReadInOrder) {
  ASSERT_TRUE(device->SetCommMask(EV_RXCHAR));
  auto waiter = WaitInBackground();
  ASSERT_TRUE(pty.Send("hello"));
  const WaitResult w = waiter.get();
  EXPECT_TRUE(w.ok);
  EXPECT_EQ(w.events, EV_RXCHAR);
  EXPECT_EQ(Status().cbInQue, 5u);

  char buf[8] = {};
  Overlapped ov;
  EXPECT_TRUE(device->ReadFile(buf, 5, ov)) << "queued bytes complete a read at once";
  EXPECT_EQ(std::string(buf, ov.InternalHigh), "hello");

  // Bytes that came while nobody waited are found by the next wait.
  ASSERT_TRUE(pty.Send("more"));
  EXPECT_EQ(Wait().events, EV_RXCHAR);
  EXPECT_EQ(Read(4).bytes, "more");
}

TEST_F(SerialTransferTest, EventCharacterEightyPercentAndAFullQueue) {
  SetEventChar('\n');
  ASSERT_TRUE(device->SetupComm(10, 10));
  ASSERT_TRUE(device->SetCommMask(EV_RXCHAR | EV_RXFLAG | EV_RX80FULL));

  ASSERT_TRUE(pty.Send("abc\n"));
  EXPECT_EQ(Wait().events, EV_RXCHAR | EV_RXFLAG);
  ASSERT_TRUE(pty.Send("defg"));  // 8 of 10
  EXPECT_EQ(Wait().events, EV_RXCHAR | EV_RX80FULL);

  // Beyond the queue size the bytes wait in the kernel: counted, in order.
  ASSERT_TRUE(pty.Send("hijklmnop"));
  const std::string all = "abc\ndefghijklmnop";
  EXPECT_EQ(Wait().events, EV_RXCHAR);
  EXPECT_EQ(Status().cbInQue, all.size());
  // A read of more than the full queue makes room and takes the rest from
  // the kernel at once.
  std::string got(all.size(), '\0');
  Overlapped ov;
  EXPECT_TRUE(device->ReadFile(got.data(), static_cast<uint32_t>(got.size()), ov));
  EXPECT_EQ(got.substr(0, ov.InternalHigh), all);
}

TEST_F(SerialTransferTest, NullBytesAreDroppedOnlyWhenAsked) {
  ASSERT_TRUE(device->SetCommMask(EV_RXCHAR));
  const std::string sent("a\0b", 3);
  ASSERT_TRUE(pty.Send(sent));
  ASSERT_EQ(Wait().events, EV_RXCHAR);
  EXPECT_EQ(Read(3).bytes, sent);

  DCB dcb;
  ASSERT_TRUE(device->GetCommState(dcb));
  dcb.Flags |= fNull;
  ASSERT_TRUE(device->SetCommState(dcb));
  ASSERT_TRUE(pty.Send(std::string("\0a\0\0bc\0", 7)));
  ASSERT_EQ(Wait().events, EV_RXCHAR);
  EXPECT_EQ(Status().cbInQue, 3u);
  EXPECT_EQ(Read(3).bytes, "abc");
  // Nothing but zero bytes adds nothing; the next byte is all there is.
  ASSERT_TRUE(pty.Send(std::string("\0\0", 2)));
  ASSERT_TRUE(pty.Send("d"));
  ASSERT_EQ(Wait().events, EV_RXCHAR);
  EXPECT_EQ(Status().cbInQue, 1u);
  EXPECT_EQ(Read(1).bytes, "d");
}

// A wait that began while the input queue was full (the poller then leaves
// the bytes in the kernel) hears of them once a read makes room.
TEST_F(SerialTransferTest, AReadFromAFullQueueWakesTheWaitForWhatWaitsInTheKernel) {
  ASSERT_TRUE(device->SetupComm(4, 4));
  ASSERT_TRUE(device->SetCommMask(EV_RXCHAR));
  ASSERT_TRUE(pty.Send("abcd"));
  ASSERT_EQ(Wait().events, EV_RXCHAR);  // the queue is full
  auto waiter = WaitInBackground();
  ASSERT_TRUE(pty.Send("ef"));
  EXPECT_EQ(Read(2).bytes, "ab");
  EXPECT_EQ(Outcome(waiter).events, EV_RXCHAR);
  EXPECT_EQ(Read(4).bytes, "cdef");
}

// With zero bytes dropped, the queue count holds only what a read can
// deliver, also while the bytes still wait in the kernel.
TEST(SerialTransferNullBytes, TheCountLeavesOutZeroBytesStillInTheKernel) {
  PtyPair pty;
  ASSERT_TRUE(pty.ok());
  // A second descriptor on the terminal shows when the bytes have reached
  // it; opened before the device takes the terminal for itself.
  struct Descriptor {
    int fd;
    ~Descriptor() {
      if (fd >= 0)
        ::close(fd);
    }
  } probe{::open(pty.path().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)};
  ASSERT_GE(probe.fd, 0);
  auto device = LinuxSerialDevice::Open(pty.path());
  ASSERT_TRUE(device);
  DCB dcb;
  ASSERT_TRUE(device->GetCommState(dcb));
  dcb.Flags |= fNull;
  ASSERT_TRUE(device->SetCommState(dcb));

  const std::string sent("OK\0\0\r\n", 6);
  ASSERT_TRUE(pty.Send(sent));
  int inKernel = 0;
  const auto limit = Clock::now() + 10s;
  while (inKernel < static_cast<int>(sent.size()) && Clock::now() < limit) {
    pollfd p{probe.fd, POLLIN, 0};
    ::poll(&p, 1, 1000);
    ::ioctl(probe.fd, FIONREAD, &inKernel);
  }
  ASSERT_EQ(inKernel, static_cast<int>(sent.size()));

  uint32_t errors = 0;
  COMSTAT st;
  ASSERT_TRUE(device->ClearCommError(errors, &st));
  EXPECT_EQ(st.cbInQue, 4u);
  char buf[4];
  Overlapped ov;
  EXPECT_TRUE(device->ReadFile(buf, 4, ov)) << "a read of the count completes at once";
  EXPECT_EQ(std::string(buf, ov.InternalHigh), "OK\r\n");
}

// An event that occurred and was not yet waited for survives a change of
// the mask, also one through the empty mask (a port whose last handler
// went and came back).
TEST_F(SerialTransferTest, EventsNotYetWaitedForOutliveMaskChanges) {
  ASSERT_TRUE(device->SetCommMask(EV_RXCHAR));
  ASSERT_TRUE(pty.Send("abc"));
  ASSERT_EQ(Wait().events, EV_RXCHAR);
  ASSERT_TRUE(pty.Send("defg"));
  EXPECT_EQ(Read(5).bytes, "abcde");  // takes the new bytes in; two stay queued
  ASSERT_TRUE(device->SetCommMask(0));
  ASSERT_TRUE(device->SetCommMask(EV_RXCHAR | EV_TXEMPTY));
  auto waiter = std::async(std::launch::async, [this] { return Wait(); });
  EXPECT_EQ(Outcome(waiter).events, EV_RXCHAR);
  EXPECT_EQ(Read(2).bytes, "fg");
}

TEST_F(SerialTransferTest, PartialReadsAndRefillsKeepTheOrder) {
  ASSERT_TRUE(device->SetupComm(10, 10));
  ASSERT_TRUE(device->SetCommMask(EV_RXCHAR));
  std::string all;
  for (int i = 0; i < 40; ++i)
    all.push_back(static_cast<char>('a' + i % 26));
  std::string got;
  size_t sent = 0;
  // Each round leaves bytes unread, so new ones land behind them.
  while (got.size() < all.size()) {
    if (sent < all.size()) {
      ASSERT_TRUE(pty.Send(all.substr(sent, 7)));
      sent += std::min<size_t>(7, all.size() - sent);
      ASSERT_EQ(Wait().events, EV_RXCHAR);
    }
    const ReadResult r = Read(std::min<uint32_t>(3, static_cast<uint32_t>(sent - got.size())));
    ASSERT_TRUE(r.ok);
    got += r.bytes;
  }
  EXPECT_EQ(got, all);
}

TEST_F(SerialTransferTest, ReadTimeoutsEndReadsWithFewerBytes) {
  // Interval: the gap after the last byte ends the read.
  ASSERT_TRUE(device->SetCommTimeouts({100, 0, 0, 0, 0}));
  ASSERT_TRUE(pty.Send("abc"));
  ReadResult r = Read(10);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.bytes, "abc");

  // Total: multiplier * count + constant, from the start of the read.
  ASSERT_TRUE(device->SetCommTimeouts({0, 10, 100, 0, 0}));
  ASSERT_TRUE(pty.Send("de"));
  const auto start = Clock::now();
  r = Read(10);
  EXPECT_GE(Clock::now() - start, 200ms);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.bytes, "de");

  // No limits: the read waits for every byte.
  ASSERT_TRUE(device->SetCommTimeouts({0, 0, 0, 0, 0}));
  char buf[4];
  Event done(true, false);
  Overlapped ov{&done};
  ASSERT_FALSE(device->ReadFile(buf, 4, ov));
  ASSERT_EQ(GetLastError(), kErrorIoPending);
  auto sender = std::async(std::launch::async, [&] {
    device->AwaitBlockedCalls(1);
    pty.Send("fg");
    pty.Send("hi");
  });
  uint32_t n = 0;
  EXPECT_TRUE(device->GetOverlappedResult(ov, n, true));
  sender.get();
  EXPECT_EQ(std::string(buf, n), "fghi");
}

TEST_F(SerialTransferTest, IntervalOfAllOnesReturnsAtOnceOrOnTheFirstByte) {
  ASSERT_TRUE(device->SetCommMask(EV_RXCHAR));
  ASSERT_TRUE(device->SetCommTimeouts({kMax, 0, 0, 0, 0}));
  char buf[10];
  Overlapped ov;
  EXPECT_TRUE(device->ReadFile(buf, 10, ov));
  EXPECT_EQ(ov.InternalHigh, 0u);
  ASSERT_TRUE(pty.Send("xyz"));
  ASSERT_EQ(Wait().events, EV_RXCHAR);
  EXPECT_TRUE(device->ReadFile(buf, 10, ov));
  EXPECT_EQ(std::string(buf, ov.InternalHigh), "xyz");

  // With a multiplier of all ones too, the read waits for a first byte (up
  // to the constant) and then returns with what it has.
  ASSERT_TRUE(device->SetCommTimeouts({kMax, kMax, 60000, 0, 0}));
  auto sender = std::async(std::launch::async, [&] {
    device->AwaitBlockedCalls(1);
    pty.Send("q");
  });
  const auto start = Clock::now();
  const ReadResult r = Read(10);
  sender.get();
  EXPECT_EQ(r.bytes, "q");
  EXPECT_LT(Clock::now() - start, 30s);
}

TEST_F(SerialTransferTest, ReadAndWaitOnTwoThreadsShareOneArrival) {
  ASSERT_TRUE(device->SetCommMask(EV_RXCHAR));
  auto waiter = WaitInBackground();
  char buf[2];
  Overlapped ov;
  ASSERT_FALSE(device->ReadFile(buf, 2, ov));
  auto sender = std::async(std::launch::async, [&] {
    device->AwaitBlockedCalls(2);
    pty.Send("xyz");
  });
  uint32_t n = 0;
  EXPECT_TRUE(device->GetOverlappedResult(ov, n, true));
  EXPECT_EQ(std::string(buf, n), "xy");
  EXPECT_EQ(waiter.get().events, EV_RXCHAR);
  sender.get();
  EXPECT_EQ(Read(1).bytes, "z");
}

TEST_F(SerialTransferTest, NonWaitingWritesCompleteInTheBackgroundInOrder) {
  ASSERT_TRUE(device->SetCommMask(EV_TXEMPTY));
  // Far more than a pseudo-terminal buffers, so the writes must wait for
  // the far end to read.
  const std::string first = Pattern(300000, 1);
  const std::string second = Pattern(200000, 2);
  Event done1(true, false), done2(true, false);
  Overlapped ov1{&done1}, ov2{&done2};
  EXPECT_FALSE(device->WriteFile(first.data(), static_cast<uint32_t>(first.size()), ov1));
  EXPECT_EQ(GetLastError(), kErrorIoPending);
  EXPECT_FALSE(device->WriteFile(second.data(), static_cast<uint32_t>(second.size()), ov2));
  EXPECT_EQ(GetLastError(), kErrorIoPending);
  EXPECT_GT(Status().cbOutQue, second.size());

  // Nobody waits on the device: its helper moves the bytes as the far end
  // makes room.
  EXPECT_EQ(pty.Receive(first.size() + second.size()), first + second);
  done1.Wait();
  done2.Wait();
  uint32_t n = 0;
  EXPECT_TRUE(device->GetOverlappedResult(ov1, n, false));
  EXPECT_EQ(n, first.size());
  EXPECT_TRUE(device->GetOverlappedResult(ov2, n, false));
  EXPECT_EQ(n, second.size());
  EXPECT_EQ(Wait().events, EV_TXEMPTY);
  EXPECT_EQ(Status().cbOutQue, 0u);
}

TEST_F(SerialTransferTest, AWriteThatGoesOutAtOnceWakesAWaitForTransmitEmpty) {
  ASSERT_TRUE(device->SetCommMask(EV_TXEMPTY | EV_RXCHAR));
  auto waiter = WaitInBackground();
  Overlapped ov;
  EXPECT_TRUE(device->WriteFile("ping", 4, ov));
  EXPECT_EQ(waiter.get().events, EV_TXEMPTY);
  EXPECT_EQ(pty.Receive(4), "ping");
}

// The character sent ahead goes before output the device still holds, also
// when the kernel has no room for it at the call: output stopped as if XOFF
// had come takes no byte at all, so everything below is held until XON.
TEST_F(SerialTransferTest, TheCharacterSentAheadPassesHeldOutput) {
  ASSERT_TRUE(device->SetCommMask(EV_TXEMPTY));
  ASSERT_TRUE(device->EscapeCommFunction(SETXOFF));
  Event done(true, false);
  Overlapped ov{&done};
  ASSERT_FALSE(device->WriteFile("queued", 6, ov));
  ASSERT_EQ(GetLastError(), kErrorIoPending);
  EXPECT_TRUE(device->TransmitCommChar('!')) << SystemErrorMessage(GetLastError());
  EXPECT_EQ(Status().cbOutQue, 7u);
  // One character at a time, as the driver keeps one.
  EXPECT_FALSE(device->TransmitCommChar('?'));
  EXPECT_EQ(GetLastError(), EBUSY);

  ASSERT_TRUE(device->EscapeCommFunction(SETXON));
  EXPECT_EQ(pty.Receive(7), "!queued");
  uint32_t n = 0;
  EXPECT_TRUE(device->GetOverlappedResult(ov, n, true));
  EXPECT_EQ(n, 6u);
  EXPECT_EQ(WaitWithin().events, EV_TXEMPTY);

  // A held character alone also goes out when output resumes; purging the
  // output drops it.
  ASSERT_TRUE(device->EscapeCommFunction(SETXOFF));
  EXPECT_TRUE(device->TransmitCommChar('x'));
  ASSERT_TRUE(device->PurgeComm(PURGE_TXCLEAR));
  EXPECT_EQ(Status().cbOutQue, 0u);
  EXPECT_TRUE(device->TransmitCommChar('y'));
  ASSERT_TRUE(device->EscapeCommFunction(SETXON));
  EXPECT_EQ(pty.Receive(1), "y");
  EXPECT_EQ(WaitWithin().events, EV_TXEMPTY);
}

// A break suspends transmission: bytes written meanwhile wait in the device
// (on a real line they would be lost under the break condition) and go out
// once the break is cleared, unless output is also stopped as if XOFF had
// come: each hold ends only with its own release.
TEST_F(SerialTransferTest, OutputWaitsWhileABreakIsSet) {
  ASSERT_TRUE(device->SetCommBreak());
  Event done(true, false);
  Overlapped ov{&done};
  ASSERT_FALSE(device->WriteFile("held", 4, ov));
  ASSERT_EQ(GetLastError(), kErrorIoPending);
  EXPECT_EQ(Status().cbOutQue, 4u);

  ASSERT_TRUE(device->EscapeCommFunction(SETXOFF));
  ASSERT_TRUE(device->ClearCommBreak());  // still stopped by XOFF
  EXPECT_EQ(Status().cbOutQue, 4u);
  ASSERT_TRUE(device->SetCommBreak());
  ASSERT_TRUE(device->EscapeCommFunction(SETXON));  // still in the break
  EXPECT_EQ(Status().cbOutQue, 4u);

  ASSERT_TRUE(device->ClearCommBreak());
  EXPECT_EQ(pty.Receive(4), "held");
  uint32_t n = 0;
  EXPECT_TRUE(device->GetOverlappedResult(ov, n, true));
  EXPECT_EQ(n, 4u);
}

TEST_F(SerialTransferTest, WriteTimeoutEndsAWriteWithFewerBytes) {
  ASSERT_TRUE(device->SetCommTimeouts({0, 0, 0, 0, 100}));
  const std::string big = Pattern(300000, 3);
  Event done(true, false);
  Overlapped ov{&done};
  EXPECT_FALSE(device->WriteFile(big.data(), static_cast<uint32_t>(big.size()), ov));
  uint32_t n = 0;
  EXPECT_TRUE(device->GetOverlappedResult(ov, n, true));
  EXPECT_GT(n, 0u);
  EXPECT_LT(n, big.size());
  EXPECT_EQ(pty.Receive(n), big.substr(0, n));
}

TEST_F(SerialTransferTest, PurgeAndCloseEndPendingTransfers) {
  char buf[4];
  Overlapped read;
  ASSERT_FALSE(device->ReadFile(buf, 4, read));
  const std::string big = Pattern(300000, 4);
  Overlapped write;
  ASSERT_FALSE(device->WriteFile(big.data(), static_cast<uint32_t>(big.size()), write));

  ASSERT_TRUE(device->PurgeComm(PURGE_RXABORT | PURGE_TXABORT | PURGE_TXCLEAR));
  uint32_t n = 0;
  EXPECT_FALSE(device->GetOverlappedResult(read, n, true));
  EXPECT_EQ(GetLastError(), ECANCELED);
  EXPECT_FALSE(device->GetOverlappedResult(write, n, true));
  EXPECT_EQ(GetLastError(), ECANCELED);

  // A thread blocked on a transfer is released by Close.
  ASSERT_FALSE(device->ReadFile(buf, 4, read));
  auto waiter = std::async(std::launch::async, [&] {
    uint32_t count = 0;
    return device->GetOverlappedResult(read, count, true) ? 0 : GetLastError();
  });
  device->AwaitBlockedCalls(1);
  device->Close();
  EXPECT_EQ(waiter.get(), ECANCELED);
  EXPECT_TRUE(LinuxSerialDevice::Open(pty.path()));
}

TEST_F(SerialTransferTest, HangUpFailsTheWaitAndTransfersAsDeviceGone) {
  ASSERT_TRUE(device->SetCommMask(EV_RXCHAR));
  char buf[4];
  Overlapped read;
  ASSERT_FALSE(device->ReadFile(buf, 4, read));
  auto waiter = WaitInBackground();
  pty.CloseMaster();
  const WaitResult w = waiter.get();
  EXPECT_FALSE(w.ok);
  EXPECT_EQ(w.error, EIO);
  EXPECT_TRUE(IsDeviceGone(w.error));

  uint32_t n = 0;
  EXPECT_FALSE(device->GetOverlappedResult(read, n, true));
  EXPECT_EQ(GetLastError(), EIO);
  Overlapped write;
  EXPECT_FALSE(device->WriteFile("x", 1, write));
  EXPECT_EQ(GetLastError(), EIO);
  uint32_t errors = 0;
  COMSTAT st;
  EXPECT_FALSE(device->ClearCommError(errors, &st));
  EXPECT_EQ(GetLastError(), EIO);
}

TEST_F(SerialTransferTest, ClearCommErrorCountsBothQueues) {
  ASSERT_TRUE(device->SetCommMask(EV_RXCHAR));
  uint32_t errors = 99;
  COMSTAT st = Status(&errors);
  EXPECT_EQ(errors, 0u);
  EXPECT_EQ(st.cbInQue, 0u);
  EXPECT_EQ(st.cbOutQue, 0u);
  ASSERT_TRUE(pty.Send("12345"));
  ASSERT_EQ(Wait().events, EV_RXCHAR);
  EXPECT_EQ(Status().cbInQue, 5u);
  EXPECT_EQ(Read(2).bytes, "12");
  EXPECT_EQ(Status().cbInQue, 3u);
}

// An open port whose event thread waits and that has no traffic costs no
// wake-ups: the waiting thread sleeps in the kernel without a timer.
TEST_F(SerialTransferTest, AnIdleWaitMakesNoWakeUps) {
  ASSERT_TRUE(device->SetCommMask(EV_RXCHAR | EV_TXEMPTY));
  std::promise<pid_t> tid;
  auto waiter = std::async(std::launch::async, [&] {
    tid.set_value(static_cast<pid_t>(::syscall(SYS_gettid)));
    return Wait();
  });
  const std::string task = "/proc/self/task/" + std::to_string(tid.get_future().get());
  auto read = [&](const std::string& leaf) {
    std::ifstream in(task + "/" + leaf);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  };
  auto inPoll = [&] {
    const long nr = std::strtol(read("syscall").c_str(), nullptr, 10);
#ifdef SYS_poll
    if (nr == SYS_poll)
      return true;
#endif
    return nr == SYS_ppoll;
  };
  auto switches = [&] {
    const std::string status = read("status");
    return status.substr(status.find("voluntary_ctxt_switches"));
  };
  device->AwaitBlockedCalls(1);
  const auto limit = Clock::now() + 10s;
  while (!inPoll() && Clock::now() < limit)
    std::this_thread::yield();
  ASSERT_TRUE(inPoll());
  const std::string before = switches();
  std::this_thread::sleep_for(300ms);  // the window observed, not a synchronisation
  EXPECT_EQ(switches(), before);
  ASSERT_TRUE(device->SetCommMask(EV_RXCHAR));
  EXPECT_EQ(waiter.get().events, 0u);
}
