// What every system's serial device shares: the check of a device control
// block before it reaches the driver.
#include "platform/SerialDevice.h"

namespace platform {

bool IsValidDcb(const DCB& dcb) {
  if (dcb.BaudRate == 0)  // would hang up the line
    return false;
  if (dcb.ByteSize < 5 || dcb.ByteSize > 8)
    return false;
  if (dcb.Parity > 4 || dcb.StopBits > 2)
    return false;
  if ((dcb.Flags & fDtrControlMask) == fDtrControlMask)  // names no DTR mode
    return false;
  // Software flow control cannot work when XON and XOFF are one character.
  if ((dcb.Flags & (fOutX | fInX)) && dcb.XonChar == dcb.XoffChar)
    return false;
  return true;
}

}  // namespace platform
