// The device lists: names appended to the caller's list in the order the
// platform gives them. They read only the two roots, so they may run on any
// thread while the port is open or closed.
#include <QString>
#include <QStringList>
#include <string>
#include <vector>

#include "comport/Comport.h"
#include "platform/DeviceLists.h"

namespace {

void Append(QStringList& list, const std::vector<std::string>& names) {
  list.reserve(list.size() + static_cast<qsizetype>(names.size()));
  for (const auto& name : names) list.append(QString::fromStdString(name));
}

}  // namespace

void TCustomComPort::EnumDevices(QStringList& list) const {
  Append(list, platform::DeviceNodeNames(FDevRoot.toStdString()));
}

void TCustomComPort::EnumComDevices(QStringList& list) const {
  Append(list, platform::SerialPortNames(FSysRoot.toStdString(), FDevRoot.toStdString()));
}

void TCustomComPort::EnumComDevicesFromRegistry(QStringList& list) const {
  Append(list, platform::RegisteredPortNames(FSysRoot.toStdString()));
}

void TCustomComPort::EnumComFriendlyNames(QStringList& list) const {
  Append(list, platform::PortFriendlyNames(FSysRoot.toStdString(), FDevRoot.toStdString()));
}

void TCustomComPort::SetDeviceRoots(const QString& sysRoot, const QString& devRoot) {
  const bool rewatch = FNotifyHandle && (devRoot != FDevRoot || sysRoot != FSysRoot);
  FSysRoot = sysRoot;
  FDevRoot = devRoot;
  // A running notification watches the new roots from now on.
  if (rewatch) {
    StopNotification();
    StartNotification();
  }
}
