// The simulated gateway's command handling, apart from any terminal: bytes
// in, the commands they complete and the reply lines to send out.
//
// Commands end at CR (an LF is taken as well; empty lines are skipped).
// Three commands are known, each in the exact text the level tool sends:
//   AT+KVWCMD1=1            -> OK, +KVWSTS1=1,<identity>
//   AT+KVWCMD1=41           -> OK, +KVWSTS1=41,<receive>,<transmit>,<talk-around>
//   AT+KVWCMD1=61,<r>,<t>,<a> -> the gains are stored; OK, +KVWSTS1=61
// Numbers must be plain decimal text (a "-" for negatives, no "+", no leading
// zeros). Anything else is received and left unanswered.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace gwsim {

struct Gains {
  int32_t receive = -3;
  int32_t transmit = 6;
  int32_t talkAround = 0;
  bool operator==(const Gains&) const = default;
};

constexpr int64_t kGatewayIdentity = 46186756;

// How replies are framed; the defaults are a well-behaved gateway.
struct Behaviour {
  int64_t identity = kGatewayIdentity;  // second field of the identity reply
  bool silent = false;       // receive commands, never answer or act on them
  bool statusFirst = false;  // the status line before its OK line
  bool bareLf = false;       // lines end with LF instead of CR LF
  bool extraLines = false;   // unknown lines before the OK and between OK and status
  bool garbage = false;      // a line of non-text bytes before each reply
};

// One line to send: its bytes on the wire (ending included) and its text for
// the log (non-printable bytes escaped, no ending).
struct ReplyLine {
  std::string wire;
  std::string text;
};

// A received command (escaped for the log) and the lines that answer it;
// empty when it is not answered.
struct Exchange {
  std::string command;
  std::vector<ReplyLine> reply;
};

class Gateway {
 public:
  // Longest command kept; a longer run without CR or LF is dropped up to the
  // next line end.
  static constexpr size_t kMaxCommandLength = 4096;

  explicit Gateway(Gains initial = {}, Behaviour behaviour = {});

  // Takes received bytes; returns one exchange for every command they end.
  std::vector<Exchange> Receive(std::string_view bytes);

  // Forgets a command received only in part (the far end closed the line).
  void DropPartialCommand();

  const Gains& CurrentGains() const { return gains_; }

 private:
  Exchange Handle(std::string_view command);
  std::vector<std::string> StatusLines(std::string_view command);
  std::vector<ReplyLine> Frame(const std::vector<std::string>& status);
  std::string GarbageBytes();

  Gains gains_;
  Behaviour behaviour_;
  std::string partial_;
  bool discarding_ = false;
  uint32_t garbageState_ = 0x2C0C104u;
};

// The bytes as one log line: printable ASCII as it is, a backslash doubled,
// every other byte as \xNN.
std::string Printable(std::string_view bytes);

}  // namespace gwsim
