// The process "priority class" of the serial component, mapped onto the
// process's nice value: idle 0x40 -> 19, normal 0x20 -> 0, high 0x80 -> -10,
// real-time 0x100 -> -20. Raising the priority needs the right to do so
// (CAP_SYS_NICE or a nice limit); a refusal is reported, never forced.
#pragma once

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace platform {

inline constexpr uint32_t IDLE_PRIORITY_CLASS = 0x40;
inline constexpr uint32_t NORMAL_PRIORITY_CLASS = 0x20;
inline constexpr uint32_t HIGH_PRIORITY_CLASS = 0x80;
inline constexpr uint32_t REALTIME_PRIORITY_CLASS = 0x100;

// The class nearest to the process's nice value; 0 on failure (last error
// set).
uint32_t GetProcessPriorityClass();

// Sets the process's nice value for 'cls'. False (last error set) for an
// unknown class (EINVAL) or when the system refuses (EACCES, EPERM).
bool SetProcessPriorityClass(uint32_t cls);

// The nice values of the process's threads before a change of class, so
// the change can be undone exactly.
struct SavedProcessPriority {
  int mainNice = 0;                          // the main thread's
  std::vector<std::pair<int, int>> threads;  // thread id and nice value
};

// Sets the process to 'cls' as SetProcessPriorityClass does and returns the
// values RestoreProcessPriority puts back. Changes nothing and returns
// nothing (last error set) for an unknown class (EINVAL) or when the way
// back would be refused (EACCES): a raised nice value can only be lowered
// again with the right to do so. A refusal of the change itself is left in
// the last error (0 when all went well); the values are returned all the
// same.
std::optional<SavedProcessPriority> ChangeProcessPriorityClass(uint32_t cls);

// Gives each thread that was saved its nice value back; threads started
// since then move by as much as the main thread does. False (last error
// set) when the system refuses.
bool RestoreProcessPriority(const SavedProcessPriority& saved);

// The mapping itself: the nice value of a class (false for an unknown
// class) and the class nearest to a nice value.
bool NiceOfPriorityClass(uint32_t cls, int& nice);
uint32_t PriorityClassOfNice(int nice);

}  // namespace platform
