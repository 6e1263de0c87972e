// The scripted device double must behave like the driver it stands for, or
// the component's tests prove nothing: these tests pin the parts of it that
// the component relies on.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "support/FakeSerialDevice.h"

using namespace platform;
using testsupport::FakeSerialDevice;
using Op = FakeSerialDevice::Op;

TEST(FakeSerialDevice, CountsCallsAndFailsOnRequest) {
  FakeSerialDevice dev;
  DCB dcb;
  ASSERT_TRUE(dev.GetCommState(dcb));
  dcb.BaudRate = 115200;
  ASSERT_TRUE(dev.SetCommState(dcb));
  EXPECT_EQ(dev.Dcb().BaudRate, 115200u);

  dev.FailOnce(Op::SetCommState, EINVAL);
  EXPECT_FALSE(dev.SetCommState(dcb));
  EXPECT_EQ(GetLastError(), EINVAL);
  EXPECT_TRUE(dev.SetCommState(dcb));
  EXPECT_EQ(dev.Calls(Op::SetCommState), 3);
  EXPECT_EQ(dev.CallLog().front(), Op::GetCommState);

  dev.Close();
  EXPECT_FALSE(dev.GetCommState(dcb));
  EXPECT_EQ(GetLastError(), platform::kErrorInvalidHandle);
}

TEST(FakeSerialDevice, BlockingWaitEndsByEventMaskChangeAndClose) {
  FakeSerialDevice dev;
  ASSERT_TRUE(dev.SetCommMask(EV_RXCHAR));
  Event ev(false, false);
  Overlapped ov{&ev};
  uint32_t got = 0xffff;

  std::thread waiter([&] { EXPECT_TRUE(dev.WaitCommEvent(got, ov)); });
  dev.AwaitWaiter();
  dev.Receive("ab");
  waiter.join();
  EXPECT_EQ(got, EV_RXCHAR);

  waiter = std::thread([&] { EXPECT_TRUE(dev.WaitCommEvent(got, ov)); });
  dev.AwaitWaiter();
  dev.SetCommMask(0);
  waiter.join();
  EXPECT_EQ(got, 0u);
  EXPECT_FALSE(dev.WaitCommEvent(got, ov)) << "an empty mask fails the wait at once";
  EXPECT_EQ(platform::GetLastError(), platform::kErrorInvalidParameter);

  ASSERT_TRUE(dev.SetCommMask(EV_RXCHAR));
  waiter = std::thread([&] { EXPECT_TRUE(dev.WaitCommEvent(got, ov)); });
  dev.AwaitWaiter();
  dev.Close();
  waiter.join();
  EXPECT_EQ(got, 0u);
}

TEST(FakeSerialDevice, QueuedWaitSetsItsEvent) {
  FakeSerialDevice dev;
  dev.SetWaitStyle(FakeSerialDevice::WaitStyle::Pending);
  dev.SetCommMask(EV_RXFLAG | EV_ERR);
  DCB dcb = dev.Dcb();
  dcb.EvtChar = '\n';
  dev.SetDcb(dcb);
  Event ev(false, false);
  Overlapped ov{&ev};
  uint32_t got = 0;
  EXPECT_FALSE(dev.WaitCommEvent(got, ov));
  EXPECT_EQ(GetLastError(), kErrorIoPending);
  dev.Receive("x\n");
  ev.Wait();
  EXPECT_EQ(got, EV_RXFLAG);

  EXPECT_FALSE(dev.WaitCommEvent(got, ov));
  dev.FailWait(EIO);
  ev.Wait();
  EXPECT_EQ(ov.Internal, static_cast<uint32_t>(EIO));
}

TEST(FakeSerialDevice, ReadsCompleteWhenDataArrivesOrExpire) {
  FakeSerialDevice dev;
  Event ev(true, true);
  Overlapped ov{&ev};
  char buf[4] = {};
  uint32_t n = 0;
  EXPECT_FALSE(dev.ReadFile(buf, 3, ov));
  EXPECT_EQ(GetLastError(), kErrorIoPending);
  EXPECT_FALSE(ev.IsSet());
  dev.Receive("ab");
  EXPECT_FALSE(ev.IsSet());
  std::thread far([&] { dev.Receive("cd"); });
  EXPECT_TRUE(dev.GetOverlappedResult(ov, n, true));
  far.join();
  EXPECT_EQ(n, 3u);
  EXPECT_EQ(std::string(buf, 3), "abc");

  EXPECT_FALSE(dev.ReadFile(buf, 3, ov));
  dev.ExpireRead();
  EXPECT_TRUE(dev.GetOverlappedResult(ov, n, true));
  EXPECT_EQ(n, 1u);
  EXPECT_EQ(buf[0], 'd');

  uint32_t errors = 0;
  COMSTAT st;
  dev.AddLineErrors(CE_FRAME);
  dev.Receive("zz");
  EXPECT_TRUE(dev.ClearCommError(errors, &st));
  EXPECT_EQ(errors, CE_FRAME);
  EXPECT_EQ(st.cbInQue, 2u);
  EXPECT_TRUE(dev.ClearCommError(errors, &st));
  EXPECT_EQ(errors, 0u);
}

TEST(FakeSerialDevice, HeldWritesKeepTheBytesOfTheCallAndCloseEndsThem) {
  FakeSerialDevice dev;
  dev.HoldWrites(true);
  Event ev(true, true);
  Overlapped ov{&ev};
  char data[] = "hi";
  EXPECT_FALSE(dev.WriteFile(data, 2, ov));
  data[0] = 'X';
  dev.ReleaseWrites();
  EXPECT_TRUE(ev.IsSet());
  EXPECT_EQ(dev.Written(), "hi");

  EXPECT_FALSE(dev.WriteFile(data, 2, ov));
  dev.Close();
  EXPECT_TRUE(ev.IsSet());
  uint32_t n = 0;
  EXPECT_FALSE(dev.GetOverlappedResult(ov, n, true));
  EXPECT_EQ(GetLastError(), ECANCELED);
}

// What a pseudo-terminal cannot do (under Wine it has no modem lines at
// all, and no break reaches the far end) the component's tests get from the
// double: modem lines with their events, break and the escape functions.
TEST(FakeSerialDevice, ModemLinesBreakAndEscapeFunctions) {
  FakeSerialDevice dev;
  ASSERT_TRUE(dev.SetCommMask(EV_CTS | EV_DSR | EV_RLSD | EV_RING));
  Event ev(false, false);
  Overlapped ov{&ev};
  uint32_t got = 0;
  std::thread waiter([&] { EXPECT_TRUE(dev.WaitCommEvent(got, ov)); });
  dev.AwaitWaiter();
  dev.SetModemStatus(MS_CTS_ON | MS_RING_ON);
  waiter.join();
  EXPECT_EQ(got, EV_CTS | EV_RING);
  uint32_t status = 0;
  ASSERT_TRUE(dev.GetCommModemStatus(status));
  EXPECT_EQ(status, MS_CTS_ON | MS_RING_ON);

  EXPECT_TRUE(dev.SetCommBreak());
  EXPECT_TRUE(dev.BreakOn());
  EXPECT_TRUE(dev.ClearCommBreak());
  EXPECT_FALSE(dev.BreakOn());
  for (uint32_t function : {SETDTR, CLRRTS, SETXOFF})
    EXPECT_TRUE(dev.EscapeCommFunction(function));
  EXPECT_EQ(dev.EscapeFunctions(), (std::vector<uint32_t>{SETDTR, CLRRTS, SETXOFF}));
}

TEST(PlatformEvent, AutoResetReleasesOneWaitManualStaysSet) {
  Event manual(true, false), automatic(false, true);
  manual.Set();
  manual.Wait();
  EXPECT_TRUE(manual.IsSet());
  manual.Reset();
  EXPECT_FALSE(manual.IsSet());

  // Looking does not take an auto-reset event's signal.
  EXPECT_TRUE(automatic.IsSet());
  EXPECT_TRUE(automatic.IsSet());
  EXPECT_FALSE(automatic.ManualReset());
  EXPECT_TRUE(manual.ManualReset());
  automatic.Wait();
  EXPECT_FALSE(automatic.IsSet());
  std::thread setter([&] { automatic.Set(); });
  automatic.Wait();
  setter.join();
  EXPECT_FALSE(automatic.IsSet());
}
