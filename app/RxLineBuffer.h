// The window's receive buffer: bytes from the port gathered into lines that
// end with LF. Each line leaves the buffer as soon as its LF arrives and
// waits, in order, to be taken; the buffer itself holds only the line being
// received, at most Capacity bytes, so a line has at most Capacity - 1
// characters before its LF.
//
// A line that does not fit is dropped whole: its bytes are removed and the
// rest of it is discarded up to and including its LF as it arrives. Only
// such a line is ever lost, whatever number of complete lines arrive at
// once; a stream without LF can never write past the buffer, and reception
// goes on with the next line.
#pragma once

#include <cstddef>
#include <deque>
#include <string>

class TRxLineBuffer {
 public:
  static constexpr int Capacity = 1024;

  // Adds received bytes at the end; each line they complete is set aside.
  void Append(const char* data, std::size_t count);

  // Takes the first complete line out before the caller interprets it:
  // 'line' gets its text up to its first CR (a CR ends the text of a line;
  // what follows up to the LF is ignored) or NUL. False, with nothing
  // changed, when no complete line is waiting.
  bool TakeLine(std::string& line);

  // Forgets everything received: the waiting lines and the partial one.
  void Clear();

  // Bytes of the line being received.
  int Count() const { return static_cast<int>(partial_.size()); }
  // True while the rest of a dropped line is being discarded.
  bool Discarding() const { return discarding_; }

 private:
  std::string partial_;            // the line being received, without its LF
  std::deque<std::string> lines_;  // complete lines not yet taken, as texts
  bool discarding_ = false;
};
