// Device arrival and removal notices: while either event has a handler, the
// port holds a registration with the user-interface thread's device notice
// dispatcher (framework/DeviceNotices.h) for the devices of its <dev> root;
// the registered hook turns each notice into a device-change message for
// WindowHook, which fires the events.
#include "comport/Comport.h"
#include "framework/DeviceNotices.h"

namespace {

TCustomComPort::TDeviceChangeMessage MessageOf(const TDeviceNotice& notice) {
  using TMessage = TCustomComPort::TDeviceChangeMessage;
  TMessage message;
  message.EventCode =
      notice.kind == TDeviceNotice::Kind::Arrival ? TMessage::DeviceArrival : TMessage::DeviceRemoveComplete;
  message.DeviceType =
      notice.type == TDeviceNotice::Type::Port ? TMessage::PortType : TMessage::DeviceInterfaceType;
  message.Name = QString::fromStdString(notice.name);
  return message;
}

}  // namespace

void TCustomComPort::SetOnDeviceArrival(const TDeviceArrivalEvent& handler) {
  if (handler.SameCode(FOnDeviceArrival)) return;
  FOnDeviceArrival = handler;
  FollowDeviceHandlers();
}

void TCustomComPort::SetOnDeviceRemoved(const TDeviceRemovedEvent& handler) {
  if (handler.SameCode(FOnDeviceRemoved)) return;
  FOnDeviceRemoved = handler;
  FollowDeviceHandlers();
}

void TCustomComPort::FollowDeviceHandlers() {
  if (Designing()) return;
  // A failed registration leaves the event set but silent.
  if (FOnDeviceArrival || FOnDeviceRemoved)
    StartNotification();
  else
    StopNotification();
}

bool TCustomComPort::StartNotification() {
  if (FNotifyHandle) return true;
  const TDeviceNotifyHandle handle =
      RegisterDeviceNotification(FDevRoot, [this](const TDeviceNotice& notice) { WindowHook(MessageOf(notice)); });
  if (handle == 0) return false;
  FNotifyHandle = std::make_shared<TDeviceNotifyHandle>(handle);
  return true;
}

bool TCustomComPort::StopNotification() {
  if (!FNotifyHandle) return true;
  const TDeviceNotifyHandle handle = *std::static_pointer_cast<TDeviceNotifyHandle>(FNotifyHandle);
  FNotifyHandle.reset();  // not registered afterwards, whatever the outcome
  return UnregisterDeviceNotification(handle);
}

bool TCustomComPort::WindowHook(const TDeviceChangeMessage& message) {
  // A port going with its owner calls no handler (they belong to the owner).
  if (Destroying()) return false;
  const bool port = message.DeviceType == TDeviceChangeMessage::PortType;
  const bool deviceInterface = message.DeviceType == TDeviceChangeMessage::DeviceInterfaceType;
  if (!port && !deviceInterface) return false;
  // A copy runs: the handler may replace itself, or free the port.
  TDeviceArrivalEvent handler;
  if (message.EventCode == TDeviceChangeMessage::DeviceArrival) handler = FOnDeviceArrival;
  if (message.EventCode == TDeviceChangeMessage::DeviceRemoveComplete) handler = FOnDeviceRemoved;
  if (handler) handler(this, message.Name);
  return false;
}
