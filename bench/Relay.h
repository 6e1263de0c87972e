// A pseudo-terminal relay between the far end and the side under
// measurement, as a user puts one between two programs: socat copies
// between the slave of the bench's pair and a second pseudo-terminal,
// whose slave the side opens. Two more hops and a third process in every
// round trip.
#pragma once

#include <sys/types.h>

#include <string>

namespace bench {

class Relay {
 public:
  // Starts socat on 'farSlavePath' and waits until its own pseudo-terminal
  // is there. Throws std::runtime_error when socat cannot be started or
  // makes no terminal within ten seconds.
  explicit Relay(const std::string& farSlavePath);
  ~Relay();  // ends socat and removes its link
  Relay(const Relay&) = delete;
  Relay& operator=(const Relay&) = delete;

  // The path the side opens: a link to the relay's slave.
  const std::string& Path() const { return link_; }

 private:
  void Stop() noexcept;

  std::string folder_;
  std::string link_;
  pid_t pid_ = -1;
};

}  // namespace bench
