// Device arrival and removal notices: while either event has a handler, the
// port holds a registration with the user-interface thread's device notice
// dispatcher (framework/DeviceNotices.h) for the devices of its <dev> root;
// the registered hook turns each notice into a device-change message for
// WindowHook, which fires the events. The handlers and the registration
// change on the user-interface thread, where the hook reads them: a change
// asked for on another thread is handed over there and waited for.
#include <functional>

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

// Stores a device handler and follows it with the registration ('follow').
template <class E>
void ChangeHandler(E& field, const E& handler, const std::function<void()>& follow) {
  RunWhereNoticesAreHandedOut([&] {
    if (handler.SameCode(field)) return;
    field = handler;
    follow();
  });
}

}  // namespace

void TCustomComPort::SetOnDeviceArrival(const TDeviceArrivalEvent& handler) {
  ChangeHandler(FOnDeviceArrival, handler, [this] { FollowDeviceHandlers(); });
}

void TCustomComPort::SetOnDeviceRemoved(const TDeviceRemovedEvent& handler) {
  ChangeHandler(FOnDeviceRemoved, handler, [this] { FollowDeviceHandlers(); });
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
  bool registered = true;
  RunWhereNoticesAreHandedOut([&] {
    if (FNotifyHandle) return;
    const TDeviceNotifyHandle handle =
        RegisterDeviceNotification(FDevRoot, [this](const TDeviceNotice& notice) { WindowHook(MessageOf(notice)); }, FSysRoot);
    registered = handle != 0;
    if (registered) FNotifyHandle = std::make_shared<TDeviceNotifyHandle>(handle);
  });
  return registered;
}

bool TCustomComPort::StopNotification() {
  bool unregistered = true;
  RunWhereNoticesAreHandedOut([&] {
    if (!FNotifyHandle) return;
    const TDeviceNotifyHandle handle = *std::static_pointer_cast<TDeviceNotifyHandle>(FNotifyHandle);
    FNotifyHandle.reset();  // not registered afterwards, whatever the outcome
    unregistered = UnregisterDeviceNotification(handle);
  });
  return unregistered;
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
