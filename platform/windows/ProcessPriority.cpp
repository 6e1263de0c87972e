#include "platform/ProcessPriority.h"

#include <windows.h>

#include "platform/LastError.h"

namespace platform {

namespace {

// The six priority classes. Anything else SetPriorityClass takes (the
// background mode) is no class and could not be saved and put back.
bool IsPriorityClass(uint32_t cls) {
  switch (cls) {
    case IDLE_PRIORITY_CLASS:
    case BELOW_NORMAL_PRIORITY_CLASS:
    case NORMAL_PRIORITY_CLASS:
    case ABOVE_NORMAL_PRIORITY_CLASS:
    case HIGH_PRIORITY_CLASS:
    case REALTIME_PRIORITY_CLASS:
      return true;
    default:
      return false;
  }
}

// Keeps the system's code for the caller, never 0 for a failure.
void KeepSystemError() {
  const DWORD code = ::GetLastError();
  SetLastError(code != 0 ? static_cast<int>(code) : kErrorInvalidParameter);
}

}  // namespace

uint32_t GetProcessPriorityClass() {
  const DWORD cls = ::GetPriorityClass(::GetCurrentProcess());
  if (cls == 0) KeepSystemError();
  return cls;
}

// Thread priorities are relative to the class, so the threads follow it.
// Without the right to enter the real-time class the system gives the high
// class instead, and says so by nothing: GetProcessPriorityClass tells.
bool SetProcessPriorityClass(uint32_t cls) {
  if (!IsPriorityClass(cls)) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  if (!::SetPriorityClass(::GetCurrentProcess(), cls)) {
    KeepSystemError();
    return false;
  }
  return true;
}

// The process's own handle may always set its class back, so the way back
// is never refused.
std::optional<SavedProcessPriority> ChangeProcessPriorityClass(uint32_t cls) {
  if (!IsPriorityClass(cls)) {
    SetLastError(kErrorInvalidParameter);
    return std::nullopt;
  }
  SavedProcessPriority saved;
  saved.priorityClass = GetProcessPriorityClass();
  if (saved.priorityClass == 0) return std::nullopt;
  SetLastError(0);
  SetProcessPriorityClass(cls);
  return saved;
}

bool RestoreProcessPriority(const SavedProcessPriority& saved) { return SetProcessPriorityClass(saved.priorityClass); }

}  // namespace platform
