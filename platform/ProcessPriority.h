// The process "priority class" of the serial component, mapped onto the
// process's nice value: idle 0x40 -> 19, normal 0x20 -> 0, high 0x80 -> -10,
// real-time 0x100 -> -20. Raising the priority needs the right to do so
// (CAP_SYS_NICE or a nice limit); a refusal is reported, never forced.
#pragma once

#include <cstdint>

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

// The mapping itself: the nice value of a class (false for an unknown
// class) and the class nearest to a nice value.
bool NiceOfPriorityClass(uint32_t cls, int& nice);
uint32_t PriorityClassOfNice(int nice);

}  // namespace platform
