// Uses the installed component: settings, the device control block, and an
// open that fails with the component's error.
#include <cstdio>

#include "comport/Comport.h"

int main() {
  TComPort port;
  port.SetBaudRate(br115200);
  port.SetDataBits(db8);
  port.SetParity(paNone);
  port.SetStopBits(sb1);
  platform::DCB dcb;
  port.CopyDCB(dcb, true);
  if (dcb.BaudRate != 115200 || dcb.ByteSize != 8) return 1;

  port.SetDeviceName("/nonexistent/ttyNone");
  try {
    port.Open();
    return 2;
  } catch (const EComError& e) {
    std::printf("%s (%d)\n", e.what(), e.ComErrorCode);
  }
  return port.Active() ? 3 : 0;
}
