// Clocks, CPU time and context-switch counters of the bench process and of
// single threads, and the latency statistics printed by the bench.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

inline double MicrosecondsBetween(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::micro>(to - from).count();
}

// CPU time and context switches, of the whole process or of one thread.
struct Usage {
  double cpuSeconds = 0;
  long voluntarySwitches = 0;
  long involuntarySwitches = 0;

  long Switches() const { return voluntarySwitches + involuntarySwitches; }
  Usage operator-(const Usage& other) const {
    return {cpuSeconds - other.cpuSeconds, voluntarySwitches - other.voluntarySwitches,
            involuntarySwitches - other.involuntarySwitches};
  }
};

// All threads of the process, ended ones included.
Usage ProcessUsage();
// The calling thread.
pid_t CurrentThreadId();
// One live thread of this process, by its kernel id (CPU time from the
// thread's CPU clock, switches from /proc/self/task).
Usage ThreadUsage(pid_t tid, clockid_t cpuClock);
// Every live thread of this process except the calling one.
Usage OtherThreadsUsage();

// Sorts a copy and returns the value at fraction q (0..1) by the nearest
// rank; 0 for no samples.
double Percentile(std::vector<double> samples, double q);

// Leaves a mark in a system-call trace: a write to an invalid descriptor
// that fails at once and names the mark, so a trace can be cut at it.
void TraceMark(const char* text);

}  // namespace bench
