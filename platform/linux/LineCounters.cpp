#include "platform/linux/LineCounters.h"

#include "platform/SerialDevice.h"

namespace platform {

CounterChanges CompareCounters(const serial_icounter_struct& was, const serial_icounter_struct& now) {
  CounterChanges c;
  if (now.frame != was.frame)
    c.errors |= CE_FRAME;
  if (now.overrun != was.overrun)
    c.errors |= CE_OVERRUN;
  if (now.parity != was.parity)
    c.errors |= CE_RXPARITY;
  if (now.buf_overrun != was.buf_overrun)
    c.errors |= CE_RXOVER;
  if (now.brk != was.brk) {
    c.errors |= CE_BREAK;
    c.events |= EV_BREAK;
  }
  // Only the line-status errors make the line-error event; a full input
  // buffer is reported with the errors alone.
  if (c.errors & (CE_FRAME | CE_OVERRUN | CE_RXPARITY))
    c.events |= EV_ERR;
  if (now.cts != was.cts)
    c.events |= EV_CTS;
  if (now.dsr != was.dsr)
    c.events |= EV_DSR;
  if (now.dcd != was.dcd)
    c.events |= EV_RLSD;
  if (now.rng != was.rng)
    c.events |= EV_RING;
  return c;
}

}  // namespace platform
