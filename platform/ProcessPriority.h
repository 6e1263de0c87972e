// The process "priority class" of the serial component. On Windows it is
// the system's own priority class (Get/SetPriorityClass), and the threads'
// priorities, being relative to it, follow it. On Linux it is mapped onto
// the process's nice value: idle 0x40 -> 19, normal 0x20 -> 0, high 0x80 ->
// -10, real-time 0x100 -> -20. Raising the priority needs the right to do
// so (CAP_SYS_NICE or a nice limit); a refusal is reported, never forced.
#pragma once

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace platform {

// Code that includes <windows.h> first has these as the system's macros,
// of the same values.
#ifndef IDLE_PRIORITY_CLASS
inline constexpr uint32_t IDLE_PRIORITY_CLASS = 0x40;
inline constexpr uint32_t NORMAL_PRIORITY_CLASS = 0x20;
inline constexpr uint32_t HIGH_PRIORITY_CLASS = 0x80;
inline constexpr uint32_t REALTIME_PRIORITY_CLASS = 0x100;
#endif

// Windows' classes between those four (also read back by
// GetProcessPriorityClass there; on Linux they are unknown classes).
#ifndef BELOW_NORMAL_PRIORITY_CLASS
inline constexpr uint32_t BELOW_NORMAL_PRIORITY_CLASS = 0x4000;
inline constexpr uint32_t ABOVE_NORMAL_PRIORITY_CLASS = 0x8000;
#endif

// The process's class (on Linux the one nearest to its nice value); 0 on
// failure (last error set).
uint32_t GetProcessPriorityClass();

// Sets the process to 'cls'. False (last error set) for an unknown class
// (kErrorInvalidParameter) or when the system refuses (EACCES, EPERM).
bool SetProcessPriorityClass(uint32_t cls);

// What a change of class undoes exactly: the class itself on Windows; on
// Linux the nice values of the process's threads.
struct SavedProcessPriority {
#ifdef _WIN32
  uint32_t priorityClass = 0;  // the class before the change
#else
  int mainNice = 0;                          // the main thread's
  std::vector<std::pair<int, int>> threads;  // thread id and nice value
#endif
};

// Sets the process to 'cls' as SetProcessPriorityClass does and returns the
// values RestoreProcessPriority puts back. Changes nothing and returns
// nothing (last error set) for an unknown class (kErrorInvalidParameter)
// or when the way back would be refused (EACCES, Linux only: a raised nice
// value can only be lowered again with the right to do so). A refusal of the change itself is left in
// the last error (0 when all went well); the values are returned all the
// same.
std::optional<SavedProcessPriority> ChangeProcessPriorityClass(uint32_t cls);

// Puts the saved class back (on Linux: gives each thread that was saved
// its nice value back; threads started since then move by as much as the
// main thread does). False (last error set) when the system refuses.
bool RestoreProcessPriority(const SavedProcessPriority& saved);

#ifndef _WIN32
// The Linux mapping itself: the nice value of a class (false for an
// unknown class) and the class nearest to a nice value.
bool NiceOfPriorityClass(uint32_t cls, int& nice);
uint32_t PriorityClassOfNice(int nice);
#endif

}  // namespace platform
