// The line errors and line events the Linux device reports for changes of
// the driver's interrupt counters, fed to the mapping directly.
#include <gtest/gtest.h>

#include <functional>

#include "platform/linux/LineCounters.h"
#include "platform/SerialDevice.h"

using namespace platform;

TEST(LineCounters, EachCounterMapsToItsErrorsAndEvents) {
  struct Case {
    const char* name;
    std::function<void(serial_icounter_struct&)> change;
    uint32_t errors;
    uint32_t events;
  };
  const Case cases[] = {
      {"nothing moved", [](serial_icounter_struct&) {}, 0, 0},
      {"frame", [](serial_icounter_struct& c) { c.frame += 1; }, CE_FRAME, EV_ERR},
      {"overrun", [](serial_icounter_struct& c) { c.overrun += 3; }, CE_OVERRUN, EV_ERR},
      {"parity", [](serial_icounter_struct& c) { c.parity += 1; }, CE_RXPARITY, EV_ERR},
      {"buffer overrun", [](serial_icounter_struct& c) { c.buf_overrun += 1; }, CE_RXOVER, 0},
      {"break", [](serial_icounter_struct& c) { c.brk += 1; }, CE_BREAK, EV_BREAK},
      {"CTS", [](serial_icounter_struct& c) { c.cts += 2; }, 0, EV_CTS},
      {"DSR", [](serial_icounter_struct& c) { c.dsr += 1; }, 0, EV_DSR},
      {"carrier", [](serial_icounter_struct& c) { c.dcd += 1; }, 0, EV_RLSD},
      {"ring", [](serial_icounter_struct& c) { c.rng += 1; }, 0, EV_RING},
      {"received and sent bytes alone", [](serial_icounter_struct& c) { c.rx += 100; c.tx += 50; }, 0, 0},
      {"wrapped around", [](serial_icounter_struct& c) { c.frame = -1; }, CE_FRAME, EV_ERR},
      {"break with a frame error",
       [](serial_icounter_struct& c) {
         c.brk += 1;
         c.frame += 1;
       },
       CE_BREAK | CE_FRAME, EV_BREAK | EV_ERR},
      {"everything",
       [](serial_icounter_struct& c) {
         ++c.frame, ++c.overrun, ++c.parity, ++c.buf_overrun, ++c.brk, ++c.cts, ++c.dsr, ++c.dcd, ++c.rng;
       },
       CE_FRAME | CE_OVERRUN | CE_RXPARITY | CE_RXOVER | CE_BREAK,
       EV_ERR | EV_BREAK | EV_CTS | EV_DSR | EV_RLSD | EV_RING},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    serial_icounter_struct was{};
    was.frame = 7;  // counters start anywhere
    was.rx = 1000;
    serial_icounter_struct now = was;
    c.change(now);
    const CounterChanges changes = CompareCounters(was, now);
    EXPECT_EQ(changes.errors, c.errors);
    EXPECT_EQ(changes.events, c.events);
  }
}
