// Serves the gateway on the pseudo-terminal: commands in, replies out after
// the configured delay, everything logged.
//
// The tool may close and reopen the port any number of times. While nobody
// has the slave open the master reports a hang-up (and reads fail with EIO)
// without end, so it is then left out of the wait; a watch on the slave's
// opens wakes the server when the port is opened again. Replies still
// waiting when the port closes, and a command received in part, are dropped.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "Gateway.h"
#include "Pty.h"

namespace gwsim {

class Server {
 public:
  using LineLog = std::function<void(const std::string&)>;

  Server(const PseudoTerminal& terminal, Gateway& gateway, std::chrono::milliseconds delay,
         bool split, LineLog log);

  // Serves until `stopFd` (a signalfd) becomes readable. Throws
  // std::system_error when waiting fails.
  void Run(int stopFd);

 private:
  struct PendingReply {
    std::chrono::steady_clock::time_point due;
    std::vector<ReplyLine> lines;
  };

  void ReadCommands();
  void ReleaseDueReplies();
  void Flush();
  void HangUp();
  void DrainOpens();
  int MsUntilNextReply() const;

  const PseudoTerminal& terminal_;
  Gateway& gateway_;
  std::chrono::milliseconds delay_;
  bool split_;
  LineLog log_;
  Fd opens_;
  bool connected_ = true;  // the first wait finds out whether anyone has it open
  std::deque<PendingReply> pending_;
  std::deque<std::string> output_;  // one entry per write
};

}  // namespace gwsim
