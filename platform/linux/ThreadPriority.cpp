#include "platform/ThreadPriority.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/LastError.h"

namespace platform {

std::int64_t CurrentThreadId() noexcept { return ::gettid(); }

int CurrentThreadPriorityBase() noexcept {
  errno = 0;
  const int base = ::getpriority(PRIO_PROCESS, 0);  // the calling thread's nice value
  return errno == 0 ? base : 0;
}

int ThreadPriorityValue(ThreadPriorityLevel level, int base) noexcept {
  int nice = base;
  switch (level) {
    case ThreadPriorityLevel::Idle: nice = 19; break;
    case ThreadPriorityLevel::Lowest: nice = base + 10; break;
    case ThreadPriorityLevel::Lower: nice = base + 5; break;
    case ThreadPriorityLevel::Normal: nice = base; break;
    case ThreadPriorityLevel::Higher: nice = base - 5; break;
    case ThreadPriorityLevel::Highest: nice = base - 10; break;
    case ThreadPriorityLevel::TimeCritical: nice = -20; break;
  }
  return std::clamp(nice, -20, 19);
}

bool SetThreadPriorityLevel(std::int64_t thread, ThreadPriorityLevel level, int base) noexcept {
  if (::setpriority(PRIO_PROCESS, static_cast<id_t>(thread), ThreadPriorityValue(level, base)) == 0) return true;
  SetLastError(errno);
  return false;
}

}  // namespace platform
