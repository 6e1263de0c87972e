// Line and modem control of an open port: one driver call each, through
// Check. None of them touches the stored settings.
#include "comport/Comport.h"

namespace {

// The device-namespace prefix: what a port name means as a path.
const QString kDevicePrefix = QString::fromLatin1(platform::kDeviceNamespacePrefix);

}  // namespace

void TCustomComPort::TransmitChar(char ch) {
  CheckActive();
  Check(FDeviceHandle->TransmitCommChar(ch));
}

void TCustomComPort::SetBreak() {
  CheckActive();
  Check(FDeviceHandle->SetCommBreak());
}

void TCustomComPort::ClearBreak() {
  CheckActive();
  Check(FDeviceHandle->ClearCommBreak());
}

void TCustomComPort::Escape(uint32_t function) {
  CheckActive();
  Check(FDeviceHandle->EscapeCommFunction(function));
}

void TCustomComPort::SetDTR() { Escape(platform::SETDTR); }
void TCustomComPort::ClearDTR() { Escape(platform::CLRDTR); }
void TCustomComPort::SetRTS() { Escape(platform::SETRTS); }
void TCustomComPort::ClearRTS() { Escape(platform::CLRRTS); }
void TCustomComPort::SetXOn() { Escape(platform::SETXON); }
void TCustomComPort::SetXOff() { Escape(platform::SETXOFF); }
void TCustomComPort::ResetDevice() { Escape(platform::RESETDEV); }

TModemStatus TCustomComPort::GetModemStatus() {
  if (Designing()) return {};
  CheckActive();
  uint32_t status = 0;
  Check(FDeviceHandle->GetCommModemStatus(status));
  TModemStatus result;
  if (status & platform::MS_CTS_ON) result |= msCTS;
  if (status & platform::MS_DSR_ON) result |= msDSR;
  if (status & platform::MS_RING_ON) result |= msRing;
  if (status & platform::MS_RLSD_ON) result |= msRLSD;
  return result;
}

QString TCustomComPort::ShortDeviceName() const {
  return FDeviceName.startsWith(kDevicePrefix) ? FDeviceName.mid(kDevicePrefix.size()) : FDeviceName;
}
