#include "platform/ThreadPriority.h"

#include <windows.h>

#include "platform/LastError.h"

namespace platform {

std::int64_t CurrentThreadId() noexcept { return ::GetCurrentThreadId(); }

// Windows thread priorities are relative to the process's class already.
int CurrentThreadPriorityBase() noexcept { return 0; }

int ThreadPriorityValue(ThreadPriorityLevel level, int) noexcept {
  switch (level) {
    case ThreadPriorityLevel::Idle: return THREAD_PRIORITY_IDLE;
    case ThreadPriorityLevel::Lowest: return THREAD_PRIORITY_LOWEST;
    case ThreadPriorityLevel::Lower: return THREAD_PRIORITY_BELOW_NORMAL;
    case ThreadPriorityLevel::Normal: return THREAD_PRIORITY_NORMAL;
    case ThreadPriorityLevel::Higher: return THREAD_PRIORITY_ABOVE_NORMAL;
    case ThreadPriorityLevel::Highest: return THREAD_PRIORITY_HIGHEST;
    case ThreadPriorityLevel::TimeCritical: return THREAD_PRIORITY_TIME_CRITICAL;
  }
  return THREAD_PRIORITY_NORMAL;
}

bool SetThreadPriorityLevel(std::int64_t thread, ThreadPriorityLevel level, int base) noexcept {
  HANDLE handle = ::OpenThread(THREAD_SET_INFORMATION, FALSE, static_cast<DWORD>(thread));
  if (handle == nullptr) {
    SetLastError(static_cast<int>(::GetLastError()));
    return false;
  }
  const bool ok = ::SetThreadPriority(handle, ThreadPriorityValue(level, base)) != 0;
  const DWORD code = ::GetLastError();
  ::CloseHandle(handle);
  if (!ok) SetLastError(static_cast<int>(code));
  return ok;
}

}  // namespace platform
