// TThread priorities on Linux: a priority is the thread's nice value over
// the starting thread's, and a refused raise reports the system's text.
#include <gtest/gtest.h>

#include <linux/capability.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <future>
#include <sstream>
#include <string>

#include "framework/Thread.h"
#include "platform/ThreadPriority.h"
#include "tests/framework/FnThread.h"

namespace {

// A thread's nice value as the kernel reports it in the thread's own
// status line (field 19, counted after the command in parentheses).
int NiceInStat(long tid) {
  std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
  std::string line;
  std::getline(stat, line);
  std::istringstream fields(line.substr(line.rfind(')') + 1));
  std::string field;
  for (int number = 3; number <= 19 && fields >> field; ++number) {
  }
  return field.empty() ? 99 : std::stoi(field);
}

TEST(ThreadTest, PriorityIsTheThreadsNiceValue) {
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::promise<long> running;  // the thread's own id, taken inside it
  FnThread worker([&](FnThread&) {
    running.set_value(gettid());
    released.wait();
  });
  worker.SetPriority(tpLower);  // applied when it starts
  errno = 0;
  const int base = getpriority(PRIO_PROCESS, 0);
  worker.Start();
  const long tid = running.get_future().get();
  EXPECT_EQ(worker.ThreadId(), tid);
  const auto nice = [tid] { return NiceInStat(tid); };
  EXPECT_EQ(nice(), std::min(base + 5, 19));
  worker.SetPriority(tpLowest);
  EXPECT_EQ(worker.Priority(), tpLowest);
  EXPECT_EQ(nice(), std::min(base + 10, 19));
  release.set_value();
  worker.WaitFor();

  using platform::ThreadPriorityLevel;
  EXPECT_EQ(platform::ThreadPriorityValue(ThreadPriorityLevel::Idle, 0), 19);
  EXPECT_EQ(platform::ThreadPriorityValue(ThreadPriorityLevel::Normal, 3), 3);
  EXPECT_EQ(platform::ThreadPriorityValue(ThreadPriorityLevel::Highest, -15), -20);
  EXPECT_EQ(platform::ThreadPriorityValue(ThreadPriorityLevel::TimeCritical, 10), -20);
}

// Drops (or restores) the right to raise priorities, for the calling
// thread only: capabilities are per thread on Linux.
bool SetNiceCapability(bool on) {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2]{};
  if (syscall(SYS_capget, &header, data) != 0) return false;
  const unsigned bit = 1u << CAP_SYS_NICE;
  if ((data[0].permitted & bit) == 0) return !on;
  data[0].effective = on ? (data[0].effective | bit) : (data[0].effective & ~bit);
  return syscall(SYS_capset, &header, data) == 0;
}

TEST(ThreadTest, RefusedPriorityRaisesWithTheSystemMessage) {
  struct rlimit niceLimit {};
  getrlimit(RLIMIT_NICE, &niceLimit);
  if (niceLimit.rlim_cur > 20) GTEST_SKIP() << "this user may raise priorities";
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::promise<void> running;
  FnThread worker([&](FnThread&) {
    running.set_value();
    released.wait();
  });
  worker.SetPriority(tpTimeCritical);  // a refusal at start is ignored
  ASSERT_TRUE(SetNiceCapability(false));
  worker.Start();
  running.get_future().wait();
  try {
    worker.SetPriority(tpHighest);
    ADD_FAILURE() << "raising the priority was not refused";
  } catch (const EThread& e) {
    EXPECT_EQ(e.Message(), std::strerror(EACCES));
  }
  EXPECT_EQ(worker.Priority(), tpTimeCritical);  // unchanged
  EXPECT_TRUE(SetNiceCapability(true));
  release.set_value();
  worker.WaitFor();
}

}  // namespace
