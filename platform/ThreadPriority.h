// The scheduling priority of one thread, in the seven levels of the class
// library's threads. On Linux a level is a nice value relative to the nice
// value of the thread that started the thread (idle 19, lowest +10, lower +5,
// normal +0, higher -5, highest -10, time-critical -20, within -20..19); on
// Windows it is the system's own thread priority, relative to the process's
// priority class.
#pragma once

#include <cstdint>

namespace platform {

enum class ThreadPriorityLevel { Idle, Lowest, Lower, Normal, Higher, Highest, TimeCritical };

// The system's id of the calling thread (never 0).
std::int64_t CurrentThreadId() noexcept;

// What levels are relative to, read on the thread that starts another one.
int CurrentThreadPriorityBase() noexcept;

// The system's value for 'level' over 'base' (a nice value on Linux, a
// THREAD_PRIORITY_ value on Windows).
int ThreadPriorityValue(ThreadPriorityLevel level, int base) noexcept;

// Sets the running thread 'thread' (a CurrentThreadId) to 'level' over
// 'base'. False, with the last error set, when the system refuses.
bool SetThreadPriorityLevel(std::int64_t thread, ThreadPriorityLevel level, int base) noexcept;

}  // namespace platform
