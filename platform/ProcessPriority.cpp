#include "platform/ProcessPriority.h"

#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
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
  int firstError = 0;
  for (int tid : ThreadIds()) {
    int current = 0;
    if (!ReadNice(tid, current))
      continue;  // the thread has ended meanwhile
    const int target = std::clamp(current + shift, -20, 19);
    if (::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), target) != 0 && errno != ESRCH &&
        firstError == 0)
      firstError = errno;
  }
  if (firstError != 0) {
    SetLastError(firstError);
    return false;
  }
  return true;
}

}  // namespace platform
