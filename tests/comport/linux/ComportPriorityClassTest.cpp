// The process's priority class and the nice value it stands for: the class
// a port holds while open moves the nice value, and closing brings back the
// exact value the process had (Linux: classes are nice values).
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "comport/ComportTestSupport.h"

using namespace comporttest;

namespace {

// The main thread's nice value, which a class change moves.
int ProcessNice() {
  errno = 0;
  return ::getpriority(PRIO_PROCESS, static_cast<id_t>(::getpid()));
}

}  // namespace

// The exact nice value comes back, and a class the process could not leave
// again is never entered. Each case runs in a child process, which has a
// single thread, so the test program's own priority stays untouched; only
// CAP_SYS_NICE allows lowering a nice value there.
TEST(ComportLifecycle, PriorityClassRestoresTheExactNiceValueAndIsNotEnteredWhenItCouldNotBeLeft) {
  struct Case {
    const char* name;
    int startNice;
    TPriorityClass priorityClass;
    bool dropRights;
    int niceWhileOpen;
  };
  const bool mayLower = ::geteuid() == 0;
  const Case cases[] = {
      {"nice 10, normal class", 10, pcNormal, false, mayLower ? 0 : 10},
      {"nice 0, idle class", 0, pcIdle, false, mayLower ? 19 : 0},
      {"nice 0, idle class, without the right to come back", 0, pcIdle, true, 0},
  };
  if (ProcessNice() > 0 && !mayLower) GTEST_SKIP() << "the test program already runs below nice 0";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      const rlimit noLowering{0, 0};
      if (::setrlimit(RLIMIT_NICE, &noLowering) != 0) ::_exit(1);
      if (c.dropRights && ::geteuid() == 0 && ::setuid(65534) != 0) ::_exit(1);
      if (::setpriority(PRIO_PROCESS, 0, c.startNice) != 0) ::_exit(1);
      int failures = 0;
      {
        TComPort port;
        port.SetPriorityClass(c.priorityClass);
        port.SetDeviceFactory([](const std::string&) { return std::make_shared<FakeSerialDevice>(); });
        port.Open();
        if (ProcessNice() != c.niceWhileOpen) failures |= 2;
        port.Close();
        if (ProcessNice() != c.startNice) failures |= 4;
      }
      ::_exit(failures);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: setup failed, 2: wrong while open, 4: wrong after close";
  }
}

