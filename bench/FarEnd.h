// The gateway responder on the master side of the pseudo-terminal, in a
// thread of its own, written as plainly as a device would be: poll, read,
// write. It either answers every command with the reply, or streams a byte
// pattern of a given length as fast as the terminal takes it.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <thread>

#include "Measure.h"

namespace bench {

// The byte at 'position' of a streamed pattern: a period (251) that no
// read size divides, so a lost or repeated chunk shows.
inline uint8_t PatternByte(uint64_t position) { return static_cast<uint8_t>(position % 251); }

class FarEnd {
 public:
  explicit FarEnd(int master);
  ~FarEnd();  // stops and joins
  FarEnd(const FarEnd&) = delete;
  FarEnd& operator=(const FarEnd&) = delete;

  // Answers each command (bytes up to and including 'terminator') with 'reply'.
  void StartResponder(std::string reply, char terminator);
  // Writes 'total' bytes of the pattern, then idles until stopped.
  void StartStreamer(uint64_t total);
  // Ends the thread and waits for it. Throws when it met an error.
  void Stop();

  pid_t ThreadId() const { return tid_; }  // while it runs
  // The thread's CPU time and switches so far (while it runs).
  Usage ThreadUsageNow() const;
  // Leave the far end out of callgrind's collection (a thread of its own
  // is counted separately from the side that is measured).
  void ExcludeFromInstructionCount() { excludeFromCount_ = true; }

 private:
  void Start(void (FarEnd::*body)());
  void Respond();
  void Stream();
  // Waits until the master is ready for 'events' or the stop signal came;
  // false on stop.
  bool WaitFor(short events);

  const int master_;
  int wake_ = -1;  // eventfd: Stop() writes it
  std::thread thread_;
  pid_t tid_ = 0;
  std::string reply_;
  char terminator_ = '\r';
  uint64_t total_ = 0;
  bool excludeFromCount_ = false;
  std::string error_;
};

}  // namespace bench
