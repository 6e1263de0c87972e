// One way of driving the serial line from the bench: this component,
// QSerialPort, or a bare poll-and-read loop. The bench runs the same
// phases on each side, on the same pseudo-terminal.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Measure.h"

namespace bench {

// The request and its two-line answer: the identify command and an
// identity reply with two level fields (13 and 33 bytes).
struct Exchange {
  std::string command = "AT+KVWCMD1=1\r";
  std::string reply = "OK\r\n+KVWSTS1=1,46186756,-21,-15\r\n";
};

// Collects the bytes of one reply after another and times each exchange.
class RoundTripLog {
 public:
  RoundTripLog(const Exchange& exchange, int count, std::vector<double>* latencies)
      : exchange_(exchange), remaining_(count), latencies_(latencies) {}

  const std::string& Command() const { return exchange_.command; }
  size_t ReplySize() const { return exchange_.reply.size(); }
  bool Done() const { return remaining_ == 0; }

  // Call right before the command goes out.
  void Sent() { sentAt_ = Clock::now(); }
  // Adds received bytes; true when they complete the reply, which is then
  // compared with the expected one (std::runtime_error when it differs or
  // more came than was asked for).
  bool Received(const char* data, size_t count);

 private:
  const Exchange& exchange_;
  int remaining_;
  std::vector<double>* latencies_;
  Clock::time_point sentAt_;
  std::string received_;
};

// Checks a received chunk of the streamed pattern at its two ends (a lost
// or repeated chunk moves the pattern) and counts it.
class StreamCheck {
 public:
  explicit StreamCheck(uint64_t total) : total_(total) {}
  void Received(const uint8_t* data, size_t count);
  bool Done() const { return received_ >= total_; }

 private:
  uint64_t total_;
  uint64_t received_ = 0;
};

class Side {
 public:
  virtual ~Side() = default;
  virtual std::string Name() const = 0;

  virtual void Open(const std::string& path) = 0;
  virtual void Close() = 0;

  // Runs 'count' exchanges one after the other; each latency (sent to
  // reply complete, in microseconds) goes to 'latencies' when given.
  virtual void RoundTrips(const Exchange& exchange, int count, std::vector<double>* latencies) = 0;

  // Receives 'total' streamed bytes. Only the event-driven sides do.
  virtual bool Streams() const { return true; }
  virtual void Receive(uint64_t total) = 0;
};

std::unique_ptr<Side> MakeComponentSide();
std::unique_ptr<Side> MakeQtSide();
std::unique_ptr<Side> MakeFloorSide();

// Runs the Qt event loop of the calling (user-interface) thread until
// Finish() or an error. A limit of zero arms no watchdog, so the loop has
// no timer of its own.
class LoopRun {
 public:
  LoopRun();
  ~LoopRun();
  // Throws std::runtime_error on Fail(), an exception escaping into the
  // event loop, or the limit passing first.
  void Exec(std::chrono::milliseconds limit, const char* what);
  void Finish();
  void Fail(const std::string& why);

  // The run in progress, if any (the application's exception handler
  // fails it).
  static LoopRun* Current();

 private:
  struct State;
  std::unique_ptr<State> d;
};

// Installs the exception handler that fails the current run instead of
// showing a message box.
void RouteExceptionsToRuns();

}  // namespace bench
