// The window's receive buffer: bytes from the port gathered into lines that
// end with LF. It holds at most Capacity bytes, so a line has at most
// Capacity - 1 characters before its LF.
//
// A line that does not fit is dropped whole: when the buffer is full and
// its last line is still incomplete, that line's bytes are removed and
// everything up to and including its LF is discarded as it arrives. Lines
// already complete stay. So a stream without LF can never write past the
// buffer, and reception goes on with the next line.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

class TRxLineBuffer {
 public:
  static constexpr int Capacity = 1024;

  // Adds received bytes at the end.
  void Append(const char* data, std::size_t count);

  // Takes the first complete line out of the buffer before the caller
  // interprets it: 'line' gets its text up to its first CR (a CR ends the
  // text of a line; what follows up to the LF is ignored) or NUL. False,
  // with the buffer unchanged, when no LF is held.
  bool TakeLine(std::string& line);

  // Bytes held (complete lines and the partial line behind them).
  int Count() const { return RxCount; }
  // True while the rest of a dropped line is being discarded.
  bool Discarding() const { return discarding_; }

 private:
  // Drops the incomplete line at the end of a full buffer and discards its
  // rest as it comes.
  void DropPartialLine();

  std::array<char, Capacity> RxBuffer{};
  std::int32_t RxCount = 0;
  bool discarding_ = false;
};
