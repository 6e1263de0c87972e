// The present serial ports from the device-setup library: the present
// devices of the "Ports" class, each with the port name its device key
// holds and its device description.
#include "platform/SerialPortList.h"

#include <windows.h>
#include <setupapi.h>

#include <algorithm>
#include <cctype>
#include <optional>
#include <vector>

#include "platform/windows/Registry.h"
#include "platform/windows/SetupApi.h"

namespace platform {

namespace {

using win::DeviceInfoSet;
using win::SetupApi;

// The class identifiers of the class name "Ports": first how many there
// are, then the identifiers. Nothing when there are none.
std::vector<GUID> PortsClassGuids(const SetupApi& api) {
  DWORD count = 0;
  api.ClassGuidsFromName("Ports", nullptr, 0, &count);
  if (count == 0) return {};
  std::vector<GUID> guids(count);
  DWORD stored = 0;
  if (!api.ClassGuidsFromName("Ports", guids.data(), count, &stored)) return {};
  guids.resize(std::min(stored, count));
  return guids;
}

// A name a serial port opens by: "COM" in any letter case, then a digit.
// Printer ports (LPT1) and other names are not serial ports.
bool IsComPortName(const std::string& name) {
  if (name.size() <= 3) return false;
  for (int i = 0; i < 3; ++i)
    if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i]) return false;
  return std::isdigit(static_cast<unsigned char>(name[3])) != 0;
}

// The port name the device's hardware key holds ("PortName").
std::optional<std::string> PortNameOf(const SetupApi& api, HDEVINFO set, SP_DEVINFO_DATA& info) {
  const HKEY key = api.OpenDevRegKey(set, &info, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE);
  if (key == INVALID_HANDLE_VALUE || key == nullptr) return std::nullopt;
  const win::RegistryKey owned(key);
  return win::ReadTextValue(owned.get(), "PortName");
}

}  // namespace

std::vector<SerialPortEntry> ListPresentPorts(const std::string&, const std::string&) {
  std::vector<SerialPortEntry> ports;
  const SetupApi api;
  if (!api.ok()) return ports;
  const std::vector<GUID> guids = PortsClassGuids(api);
  if (guids.empty()) return ports;
  const DeviceInfoSet devices(api, api.GetClassDevs(&guids.front(), nullptr, nullptr, DIGCF_PRESENT));
  devices.ForEachDevice([&](SP_DEVINFO_DATA& info) {
    std::optional<std::string> name = PortNameOf(api, devices.get(), info);
    if (!name || !IsComPortName(*name)) return;
    ports.push_back({std::move(*name), devices.TextProperty(info, SPDRP_DEVICEDESC).value_or("")});
  });
  return ports;
}

}  // namespace platform
