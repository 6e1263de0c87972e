// The terminal's line settings through the kernel's termios2 interface
// (TCGETS2/TCSETS2), which carries any integer bit rate (BOTHER). The
// kernel's header for it clashes with glibc's <termios.h>, so the kernel
// structure stays inside Termios2.cpp and callers see this plain record.
#pragma once

#include <cstdint>

namespace platform {

enum class LineParity : uint8_t { None, Odd, Even, Mark, Space };

// What a terminal's attributes say about the serial line.
struct LineSettings {
  uint32_t baudRate = 0;  // bits per second, input and output alike
  uint8_t dataBits = 8;   // 5..8
  LineParity parity = LineParity::None;
  bool twoStopBits = false;
  bool parityCheck = false;  // INPCK: received parity is checked
  bool rtsCts = false;       // CRTSCTS: hardware flow control
  bool xonOutput = false;    // IXON: output stops on XOFF
  bool xonInput = false;     // IXOFF: XOFF/XON sent for the input side
  char xonChar = 17;         // VSTART
  char xoffChar = 19;        // VSTOP

  bool operator==(const LineSettings&) const = default;
};

// The flag words of a terminal's attributes.
struct TerminalFlags {
  uint32_t iflag = 0;
  uint32_t oflag = 0;
  uint32_t cflag = 0;
  uint32_t lflag = 0;
};

// The flag words that WriteLineSettings gives a terminal whose flags are
// 'current'. Pseudo-terminals drop the character size and the parity
// enable, so this is also where the encoding of those can be checked.
TerminalFlags EncodeLineSettings(const LineSettings& settings, TerminalFlags current);

// Reads the line settings of the terminal 'fd'. False with errno set.
bool ReadLineSettings(int fd, LineSettings& settings);

// Applies 'settings' at once (no drain) and makes the terminal raw: no echo,
// no canonical input, no signals, no input or output translation, receiver
// on, modem-control lines ignored for hang-up; VMIN 1 and VTIME 0, so on
// the non-blocking descriptor an empty queue reads as EAGAIN and a read of
// 0 bytes means a hang-up. The rate is given as BOTHER, so any integer rate is accepted;
// a rate of 0 would hang up the line and is the caller's to refuse. False
// with errno set.
bool WriteLineSettings(int fd, const LineSettings& settings);

// Makes the terminal raw as above, with software flow control off, and
// keeps the other line settings it has (rate, character format, hardware
// flow control). False with errno set.
bool MakeRaw(int fd);

}  // namespace platform
