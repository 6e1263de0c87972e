// The event thread's priority on Linux: the nice value the thread runs at,
// relative to the thread that started it.
#include <sys/resource.h>

#include <atomic>
#include <cerrno>

#include "comport/ComportTestSupport.h"

using namespace comporttest;

TEST(ComportEvents, ThreadPriorityIsTheNiceValueTheEventThreadRunsAt) {
  errno = 0;
  const int base = ::getpriority(PRIO_PROCESS, 0);  // the thread that starts it
  std::atomic<int> batches{0};
  std::atomic<int> nice{99};
  FakePort f;
  f.port.SetSynchronizeEvents(false);  // the handler runs on the event thread
  f.port.SetThreadPriority(tpLowest);
  f.port.SetOnRxChar(TNotifyEvent::Bind([&](TObject*) {
    errno = 0;
    nice = ::getpriority(PRIO_PROCESS, 0);  // this thread's own
    ++batches;
  }));
  f.port.Open();
  f.device->AwaitWaiter();
  f.device->RaiseEvents(platform::EV_RXCHAR);
  ASSERT_TRUE(WaitUntil([&] { return batches > 0; }));
  EXPECT_EQ(nice, std::min(base + 10, 19));

  // A change reaches the running thread.
  f.device->AwaitWaiter();
  f.port.SetThreadPriority(tpLower);
  f.device->RaiseEvents(platform::EV_RXCHAR);
  ASSERT_TRUE(WaitUntil([&] { return batches > 1; }));
  EXPECT_EQ(nice, std::min(base + 5, 19));
}

