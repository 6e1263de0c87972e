// Device arrival and removal notices. (Scaffolding: registration follows.)
#include "comport/Comport.h"

void TCustomComPort::SetOnDeviceArrival(const TDeviceArrivalEvent& handler) {
  if (handler.SameCode(FOnDeviceArrival)) return;
  FOnDeviceArrival = handler;
}

void TCustomComPort::SetOnDeviceRemoved(const TDeviceRemovedEvent& handler) {
  if (handler.SameCode(FOnDeviceRemoved)) return;
  FOnDeviceRemoved = handler;
}

bool TCustomComPort::StartNotification() { return false; }
bool TCustomComPort::StopNotification() { return true; }
