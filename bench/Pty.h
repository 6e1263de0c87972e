// The pseudo-terminal pair every side of the bench runs on: the far end
// works the master, the side under measurement opens the slave by its path.
#pragma once

#include <string>

namespace bench {

class Pty {
 public:
  // Throws std::runtime_error when no pair can be made.
  Pty();
  ~Pty();
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  int Master() const { return master_; }  // non-blocking
  const std::string& SlavePath() const { return slavePath_; }

  // Between two sides: lifts the exclusive mode the last one set, drops
  // whatever is left in both directions and puts the slave back in raw mode.
  void Reset();

 private:
  int master_ = -1;
  // Kept open for the whole run so that closing a side never hangs up the
  // master; never read or written.
  int heldSlave_ = -1;
  std::string slavePath_;
};

}  // namespace bench
