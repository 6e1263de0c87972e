#include "platform/ProcessPriority.h"

#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <functional>
#include <thread>
#include <vector>

#include "platform/LastError.h"

namespace platform {

namespace {

struct ClassNice {
  uint32_t cls;
  int nice;
};

// In order of rising priority; ties in PriorityClassOfNice go to the
// earlier (lower) class.
constexpr ClassNice kClasses[] = {
    {IDLE_PRIORITY_CLASS, 19},
    {NORMAL_PRIORITY_CLASS, 0},
    {HIGH_PRIORITY_CLASS, -10},
    {REALTIME_PRIORITY_CLASS, -20},
};

// Reads a thread's nice value; false with errno set.
bool ReadNice(int tid, int& nice) {
  errno = 0;  // -1 is a valid nice value: errno tells them apart
  nice = ::getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
  return !(nice == -1 && errno != 0);
}

// The process's threads. On Linux the nice value belongs to each thread, so
// a process-wide change has to visit them all.
std::vector<int> ThreadIds() {
  std::vector<int> ids;
  if (DIR* dir = ::opendir("/proc/self/task")) {
    while (const dirent* e = ::readdir(dir)) {
      char* end = nullptr;
      const long id = std::strtol(e->d_name, &end, 10);
      if (end != e->d_name && *end == '\0' && id > 0)
        ids.push_back(static_cast<int>(id));
    }
    ::closedir(dir);
  }
  if (ids.empty())
    ids.push_back(::getpid());
  return ids;
}

int ClampNice(int nice) { return std::clamp(nice, -20, 19); }

// Gives every thread the nice value 'target' computes from its id and its
// current value; false (last error set) when the system refuses one.
bool SetThreadNiceValues(const std::function<int(int tid, int current)>& target) {
  int firstError = 0;
  for (int tid : ThreadIds()) {
    int current = 0;
    if (!ReadNice(tid, current))
      continue;  // the thread has ended meanwhile
    const int nice = target(tid, current);
    if (nice == current)
      continue;
    if (::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice) != 0 && errno != ESRCH && firstError == 0)
      firstError = errno;
  }
  SetLastError(firstError);
  return firstError == 0;
}

// Whether a thread of this process may lower its nice value to 'nice'
// (which needs CAP_SYS_NICE or a large enough RLIMIT_NICE). The system
// itself answers, on a short-lived thread of its own: no other thread
// changes.
bool MayLowerNiceTo(int nice) {
  bool allowed = false;
  std::thread probe([&allowed, nice] {
    allowed = ::setpriority(PRIO_PROCESS, 0, 19) == 0 && ::setpriority(PRIO_PROCESS, 0, nice) == 0;
  });
  probe.join();
  return allowed;
}

}  // namespace

bool NiceOfPriorityClass(uint32_t cls, int& nice) {
  for (const ClassNice& c : kClasses) {
    if (c.cls == cls) {
      nice = c.nice;
      return true;
    }
  }
  return false;
}

uint32_t PriorityClassOfNice(int nice) {
  const ClassNice* best = &kClasses[0];
  for (const ClassNice& c : kClasses) {
    if (std::abs(c.nice - nice) < std::abs(best->nice - nice))
      best = &c;
  }
  return best->cls;
}

// The class is read from the main thread, whose id is the process id.
uint32_t GetProcessPriorityClass() {
  int nice = 0;
  if (!ReadNice(::getpid(), nice)) {
    SetLastError(errno);
    return 0;
  }
  return PriorityClassOfNice(nice);
}

// Every thread moves by the same amount as the main thread, so threads that
// were set above or below the process keep their distance to it (within
// the nice range), as thread priorities relative to a class do.

bool SetProcessPriorityClass(uint32_t cls) {
  int nice = 0;
  if (!NiceOfPriorityClass(cls, nice)) {
    SetLastError(EINVAL);
    return false;
  }
  int mainNice = 0;
  if (!ReadNice(::getpid(), mainNice)) {
    SetLastError(errno);
    return false;
  }
  const int shift = nice - mainNice;
  return SetThreadNiceValues([shift](int, int current) { return ClampNice(current + shift); });
}

std::optional<SavedProcessPriority> ChangeProcessPriorityClass(uint32_t cls) {
  int nice = 0;
  if (!NiceOfPriorityClass(cls, nice)) {
    SetLastError(EINVAL);
    return std::nullopt;
  }
  SavedProcessPriority saved;
  if (!ReadNice(::getpid(), saved.mainNice)) {
    SetLastError(errno);
    return std::nullopt;
  }
  const int shift = nice - saved.mainNice;
  // The way back lowers every nice value the change raises: the lowest of
  // them must be allowed.
  int lowestToRestore = 20;
  for (int tid : ThreadIds()) {
    int current = 0;
    if (!ReadNice(tid, current))
      continue;
    saved.threads.emplace_back(tid, current);
    if (ClampNice(current + shift) > current)
      lowestToRestore = std::min(lowestToRestore, current);
  }
  if (lowestToRestore < 20 && !MayLowerNiceTo(lowestToRestore)) {
    SetLastError(EACCES);
    return std::nullopt;
  }
  SetThreadNiceValues([shift](int, int current) { return ClampNice(current + shift); });
  return saved;
}

bool RestoreProcessPriority(const SavedProcessPriority& saved) {
  int mainNice = 0;
  if (!ReadNice(::getpid(), mainNice)) {
    SetLastError(errno);
    return false;
  }
  const int shift = saved.mainNice - mainNice;
  return SetThreadNiceValues([&saved, shift](int tid, int current) {
    for (const auto& [savedTid, savedNice] : saved.threads)
      if (savedTid == tid)
        return savedNice;
    return ClampNice(current + shift);
  });
}

}  // namespace platform
