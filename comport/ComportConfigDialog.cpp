// The configuration dialogs: the system's serial configuration dialog on
// the device's default configuration, editing either the component's
// settings or that default itself.
#include <QFile>
#include <cstring>

#include "comport/Comport.h"
#include "comport/CommConfigDialog.h"
#include "platform/CommConfig.h"

namespace {

// A zeroed record whose size field states its size.
platform::COMMCONFIG EmptyRecord() {
  platform::COMMCONFIG config;
  std::memset(&config, 0, sizeof config);
  config.dwSize = platform::kCommConfigSize;
  return config;
}

}  // namespace

bool TCustomComPort::ConfigDialog() {
  const std::string name = QFile::encodeName(ShortDeviceName()).toStdString();
  platform::COMMCONFIG config = EmptyRecord();
  uint32_t size = platform::kCommConfigSize;
  Check(platform::GetDefaultCommConfig(name, config, size));
  // The component's settings over the device's defaults.
  CopyDCB(config.dcb, true);
  if (!CommConfigDialog(name, nullptr, config)) return false;
  CopyDCB(config.dcb, false);
  // The confirmed rate is the rate in effect afterwards. The custom-rate
  // setter changes nothing when the rate equals the stored custom rate, so
  // a listed rate selected beside that stored rate would otherwise stay and
  // the user's choice be lost.
  if (CustomBaudRate() != static_cast<qint32>(config.dcb.BaudRate)) FBaudRate = brCustom;
  SetComDCB();
  return true;
}

bool TCustomComPort::DefaultConfigDialog() {
  const std::string name = QFile::encodeName(ShortDeviceName()).toStdString();
  platform::COMMCONFIG config = EmptyRecord();
  uint32_t size = platform::kCommConfigSize;
  Check(platform::GetDefaultCommConfig(name, config, size));
  if (!CommConfigDialog(name, nullptr, config)) return false;
  // Stored with the size the read reported.
  Check(platform::SetDefaultCommConfig(name, config, size));
  return true;
}
