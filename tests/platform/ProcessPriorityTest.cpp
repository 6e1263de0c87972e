#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

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
