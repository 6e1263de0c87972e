#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <future>
#include <optional>
#include <thread>

#include "platform/LastError.h"
#include "platform/ProcessPriority.h"

using namespace platform;

TEST(ProcessPriority, ClassesMapToNiceValuesAndBack) {
  struct Case {
    uint32_t cls;
    int nice;
  } cases[] = {{IDLE_PRIORITY_CLASS, 19},
               {NORMAL_PRIORITY_CLASS, 0},
               {HIGH_PRIORITY_CLASS, -10},
               {REALTIME_PRIORITY_CLASS, -20}};
  for (const Case& c : cases) {
    int nice = 99;
    EXPECT_TRUE(NiceOfPriorityClass(c.cls, nice));
    EXPECT_EQ(nice, c.nice);
    EXPECT_EQ(PriorityClassOfNice(c.nice), c.cls);
  }
  // Nice values between the classes read as the nearest class.
  EXPECT_EQ(PriorityClassOfNice(5), NORMAL_PRIORITY_CLASS);
  EXPECT_EQ(PriorityClassOfNice(12), IDLE_PRIORITY_CLASS);
  EXPECT_EQ(PriorityClassOfNice(-8), HIGH_PRIORITY_CLASS);
  EXPECT_EQ(PriorityClassOfNice(-17), REALTIME_PRIORITY_CLASS);

  int nice = 0;
  EXPECT_FALSE(NiceOfPriorityClass(0x4000, nice));
  EXPECT_FALSE(SetProcessPriorityClass(0x4000));
  EXPECT_EQ(GetLastError(), EINVAL);
}

// Run in a child process, so the test program's own priority is untouched.
TEST(ProcessPriority, SetsTheWholeProcessAndReadsItBack) {
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    int failures = 0;
    if (!SetProcessPriorityClass(IDLE_PRIORITY_CLASS))
      failures |= 1;
    if (GetProcessPriorityClass() != IDLE_PRIORITY_CLASS)
      failures |= 2;
    errno = 0;
    if (::getpriority(PRIO_PROCESS, 0) != 19)
      failures |= 4;
    // Going back up needs the right to raise priority: refused without it.
    const bool mayRaise = ::geteuid() == 0;
    if (SetProcessPriorityClass(NORMAL_PRIORITY_CLASS) != mayRaise)
      failures |= 8;
    if (mayRaise && GetProcessPriorityClass() != NORMAL_PRIORITY_CLASS)
      failures |= 16;
    ::_exit(failures);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

namespace {

// Runs 'body' in a child process, which has a single thread until the body
// starts more, so its priority changes touch nothing else; the child's exit
// status, 0 when all went well.
int InChild(const std::function<int()>& body) {
  const pid_t child = ::fork();
  if (child == 0)
    ::_exit(body());
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status))
    return -1;
  return WEXITSTATUS(status);
}

int NiceOf(int tid) {
  errno = 0;
  return ::getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
}

// A thread that sets its own nice value and waits until released.
class NiceThread {
 public:
  explicit NiceThread(int nice) {
    std::promise<int> started;
    std::future<int> tid = started.get_future();
    thread_ = std::thread([this, nice, &started] {
      ::setpriority(PRIO_PROCESS, 0, nice);
      started.set_value(static_cast<int>(::gettid()));
      release_.get_future().wait();
    });
    tid_ = tid.get();
  }
  ~NiceThread() {
    release_.set_value();
    thread_.join();
  }
  int Tid() const { return tid_; }

 private:
  std::promise<void> release_;
  std::thread thread_;
  int tid_ = 0;
};

}  // namespace

// Each thread gets its own nice value back, not one near the class; a
// thread started meanwhile moves by as much as the main thread.
TEST(ProcessPriority, AChangeOfClassIsUndoneExactly) {
  if (::geteuid() != 0)
    GTEST_SKIP() << "undoing a lowered priority needs the right to raise it";
  const int failures = InChild([] {
    if (::setpriority(PRIO_PROCESS, 0, 3) != 0)
      return 1;
    NiceThread low(17);
    const std::optional<SavedProcessPriority> saved = ChangeProcessPriorityClass(IDLE_PRIORITY_CLASS);
    if (!saved || NiceOf(::getpid()) != 19 || NiceOf(low.Tid()) != 19)
      return 2;
    NiceThread startedMeanwhile(19);
    if (!RestoreProcessPriority(*saved))
      return 3;
    if (NiceOf(::getpid()) != 3 || NiceOf(low.Tid()) != 17 || NiceOf(startedMeanwhile.Tid()) != 3)
      return 4;
    return 0;
  });
  EXPECT_EQ(failures, 0);
}

// Without the right to lower a nice value again, a class below the current
// priority is refused before anything changes, so the process is never
// stuck at it; a class the system refuses changes nothing either.
TEST(ProcessPriority, NothingChangesWhenTheWayBackWouldBeRefused) {
  const int failures = InChild([] {
    const rlimit noLowering{0, 0};
    if (::setrlimit(RLIMIT_NICE, &noLowering) != 0 || (::geteuid() == 0 && ::setuid(65534) != 0))
      return 1;
    const int before = NiceOf(::getpid());
    if (before == 19)
      return 0;  // nothing below to refuse
    if (ChangeProcessPriorityClass(IDLE_PRIORITY_CLASS) || GetLastError() != EACCES)
      return 2;
    if (NiceOf(::getpid()) != before)
      return 3;
    // Up is refused by the system itself; the values come back all the same.
    const std::optional<SavedProcessPriority> saved = ChangeProcessPriorityClass(REALTIME_PRIORITY_CLASS);
    if (!saved || GetLastError() != EACCES || NiceOf(::getpid()) != before)
      return 4;
    if (!RestoreProcessPriority(*saved) || NiceOf(::getpid()) != before)
      return 5;
    return 0;
  });
  EXPECT_EQ(failures, 0);
}
