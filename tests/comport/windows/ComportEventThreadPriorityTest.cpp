// The event thread's priority on Windows: the system's thread priority the
// thread runs at, set when it starts and changed while it runs.
#include <atomic>

#include "SystemThreadPriority.h"
#include "comport/ComportTestSupport.h"
#include "platform/ThreadPriority.h"

using namespace comporttest;

TEST(ComportEvents, ThreadPriorityIsTheSystemPriorityTheEventThreadRunsAt) {
  using platform::ThreadPriorityLevel;
  std::atomic<int> batches{0};
  std::atomic<int> priority{-1000};
  FakePort f;
  f.port.SetSynchronizeEvents(false);  // the handler runs on the event thread
  f.port.SetThreadPriority(tpLowest);
  f.port.SetOnRxChar(TNotifyEvent::Bind([&](TObject*) {
    priority = SystemThreadPriorityOfCallingThread();
    ++batches;
  }));
  f.port.Open();
  f.device->AwaitWaiter();
  f.device->RaiseEvents(platform::EV_RXCHAR);
  ASSERT_TRUE(WaitUntil([&] { return batches > 0; }));
  EXPECT_EQ(priority, platform::ThreadPriorityValue(ThreadPriorityLevel::Lowest, 0));

  // A change reaches the running thread.
  f.device->AwaitWaiter();
  f.port.SetThreadPriority(tpLower);
  f.device->RaiseEvents(platform::EV_RXCHAR);
  ASSERT_TRUE(WaitUntil([&] { return batches > 1; }));
  EXPECT_EQ(priority, platform::ThreadPriorityValue(ThreadPriorityLevel::Lower, 0));
}
