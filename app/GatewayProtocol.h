// The gateway's command protocol as plain functions: the exchange codes,
// the command texts the tool sends and the reply lines it accepts. No
// window, no port: the window's exchange state machine uses these, and
// tests and the fuzz target call them alone.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

// Exchange codes: the first parameter of a command and the first field of
// the status line that answers it. CmdIdle marks no exchange pending.
inline constexpr std::uint32_t CmdIdle = 9999;
inline constexpr std::uint32_t CmdIdentify = 1;
inline constexpr std::uint32_t CmdReadLevels = 41;
inline constexpr std::uint32_t CmdWriteLevels = 61;

// The value a QL75N gateway returns as field 2 of its identity reply.
inline constexpr std::int32_t GatewayIdentityValue = 46186756;  // 0x02C0C104

// The command for exchange 'code', ended by a single CR:
// "AT+KVWCMD1=<code>\r", and for CmdWriteLevels
// "AT+KVWCMD1=61,<receive>,<transmit>,<talk-around>\r" with the three gains
// in decimal.
std::string FormatGatewayCommand(std::uint32_t code, int receiveGain, int transmitGain, int talkAroundGain);

// What one received line is.
enum class TReplyKind { Other, Ok, Status };

struct TReplyLine {
  TReplyKind Kind = TReplyKind::Other;
  // Status lines: field 1 is the code answered, fields 2 to 4 its values.
  // Missing or empty fields are 0.
  std::array<std::int32_t, 4> Fields{};
};

// Judges one line (the text before its LF, already cut at a CR):
// - a line whose first two characters are "OK" is an acknowledgement;
// - a line beginning with "+KVWSTS1=" is a status line. Its fields are
//   separated by any run of white space and commas; field 1 is a run of
//   decimal digits, fields 2 to 4 may carry a "-" or "+" sign. An empty
//   digit run gives 0 and whatever follows field 4 is ignored. Values that
//   do not fit 32 bits wrap around (modulo 2^32), never fail;
// - anything else is Other.
TReplyLine ParseReplyLine(std::string_view line);
