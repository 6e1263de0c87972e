// TThread priorities on Windows: a priority is the system's thread priority
// (relative to the process's class), set as the thread starts and changed
// while it runs.
#include <gtest/gtest.h>
#include <windows.h>

#include <future>

#include "framework/Thread.h"
#include "platform/ThreadPriority.h"
#include "tests/framework/FnThread.h"

namespace {

// The system's priority of the thread with the id 'tid'.
int SystemPriority(long long tid) {
  HANDLE thread = ::OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(tid));
  if (thread == nullptr) return THREAD_PRIORITY_ERROR_RETURN;
  const int priority = ::GetThreadPriority(thread);
  ::CloseHandle(thread);
  return priority;
}

TEST(ThreadTest, PriorityIsTheThreadsSystemPriority) {
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::promise<long long> running;  // the thread's own id, taken inside it
  FnThread worker([&](FnThread&) {
    running.set_value(static_cast<long long>(::GetCurrentThreadId()));
    released.wait();
  });
  worker.SetPriority(tpLower);  // applied when it starts
  worker.Start();
  const long long tid = running.get_future().get();
  EXPECT_EQ(worker.ThreadId(), tid);
  EXPECT_EQ(SystemPriority(tid), THREAD_PRIORITY_BELOW_NORMAL);
  const struct {
    TThreadPriority priority;
    int system;
  } cases[] = {
      {tpIdle, THREAD_PRIORITY_IDLE},
      {tpLowest, THREAD_PRIORITY_LOWEST},
      {tpNormal, THREAD_PRIORITY_NORMAL},
      {tpHigher, THREAD_PRIORITY_ABOVE_NORMAL},
      {tpHighest, THREAD_PRIORITY_HIGHEST},
      {tpTimeCritical, THREAD_PRIORITY_TIME_CRITICAL},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.priority);
    try {
      worker.SetPriority(c.priority);
    } catch (const EThread& e) {
      ADD_FAILURE() << "refused: " << e.Message();
    }
    EXPECT_EQ(worker.Priority(), c.priority);
    EXPECT_EQ(SystemPriority(tid), c.system);
  }
  release.set_value();
  worker.WaitFor();
}

}  // namespace
