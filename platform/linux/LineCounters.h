// What a change of the driver's interrupt counters (TIOCGICOUNT) stands for:
// the line errors (CE_ bits) and the line events (EV_ bits) to report.
#pragma once

#include <linux/serial.h>

#include <cstdint>

namespace platform {

struct CounterChanges {
  uint32_t errors = 0;  // CE_ bits
  uint32_t events = 0;  // EV_ bits, before the event mask is applied
};

// The errors and events of the counters that moved from 'was' to 'now'.
// A counter that moved at all counts once, however far it moved (also when
// it wrapped around).
CounterChanges CompareCounters(const serial_icounter_struct& was, const serial_icounter_struct& now);

}  // namespace platform
