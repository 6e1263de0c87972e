// The configuration dialogs: the system's serial configuration dialog on
// the device's default configuration, editing either the component's
// settings or that default itself.
#include <QFile>
#include <cstring>

#include "comport/Comport.h"
#include "comport/CommConfigDialog.h"
#include "platform/CommConfig.h"

namespace {

// The default configuration of a port's device: the port's device name,
// read as the port opens it (a name without a '/' in the port's device
// folder, SetDeviceRoots), and the record read or to be stored.
struct TDeviceDefault {
  TDeviceDefault(const QString& deviceName, const QString& devRoot) : name(TCustomComPort::SystemName(deviceName)) {
    places.devRoot = TCustomComPort::SystemName(devRoot);
    // A zeroed record whose size field states its size.
    std::memset(&config, 0, sizeof config);
    config.dwSize = platform::kCommConfigSize;
  }
  bool Read() { return platform::GetDefaultCommConfig(name, config, size, places); }
  // Stored with the size the read reported.
  bool Store() const { return platform::SetDefaultCommConfig(name, config, size, places); }

  const std::string name;
  platform::CommConfigPlaces places;
  platform::COMMCONFIG config;
  uint32_t size = platform::kCommConfigSize;
};

}  // namespace

bool TCustomComPort::ConfigDialog() {
  TDeviceDefault device(FDeviceName, FDevRoot);
  Check(device.Read());
  // The component's settings over the device's defaults.
  CopyDCB(device.config.dcb, true);
  if (!CommConfigDialog(SystemName(ShortDeviceName()), nullptr, device.config)) return false;
  CopyDCB(device.config.dcb, false);
  // The confirmed rate is the rate in effect afterwards. The custom-rate
  // setter changes nothing when the rate equals the stored custom rate, so
  // a listed rate selected beside that stored rate would otherwise stay and
  // the user's choice be lost.
  if (CustomBaudRate() != static_cast<qint32>(device.config.dcb.BaudRate)) FBaudRate = brCustom;
  SetComDCB();
  return true;
}

bool TCustomComPort::DefaultConfigDialog() {
  TDeviceDefault device(FDeviceName, FDevRoot);
  Check(device.Read());
  if (!CommConfigDialog(SystemName(ShortDeviceName()), nullptr, device.config)) return false;
  Check(device.Store());
  return true;
}
