// The device lists from the system's own sources: the MS-DOS device names,
// the serial-port map of the registry and the devices of the "Ports" class.
#include "platform/DeviceLists.h"

#include <windows.h>
#include <setupapi.h>

#include <algorithm>

#include "platform/windows/Registry.h"
#include "platform/windows/SetupApi.h"

namespace platform {

namespace {

// The names buffer first tried, and the largest one tried when they do not
// fit (the names are then read again into a larger one).
constexpr DWORD kDosNamesBuffer = 65535;
constexpr DWORD kLargestDosNamesBuffer = 16u << 20;
constexpr char kSerialMap[] = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
// The device class of ports (COM and LPT), {4D36E978-E325-11CE-BFC1-08002BE10318}.
constexpr GUID kPortsClass = {0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

// The names stored one after another, each ended by a NUL: each name that
// is not empty, in order (the extra NUL after the last gives none).
std::vector<std::string> SplitNames(const char* names, size_t size) {
  std::vector<std::string> result;
  size_t start = 0;
  for (size_t i = 0; i < size; ++i) {
    if (names[i] != '\0') continue;
    if (i > start) result.emplace_back(names + start, i - start);
    start = i + 1;
  }
  return result;
}

std::vector<std::string> DosDeviceNames() {
  for (DWORD size = kDosNamesBuffer; size <= kLargestDosNamesBuffer; size *= 2) {
    std::vector<char> buffer(size);
    const DWORD stored = ::QueryDosDeviceA(nullptr, buffer.data(), size);
    if (stored != 0) return SplitNames(buffer.data(), std::min<size_t>(stored, size));
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) break;
  }
  return {};
}

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

}  // namespace

std::vector<std::string> DeviceNodeNames(const std::string&) { return DosDeviceNames(); }

std::vector<std::string> SerialPortNames(const std::string&, const std::string&) {
  std::vector<std::string> names;
  for (auto& name : DosDeviceNames())
    if (StartsWith(name, "COM") || StartsWith(name, "\\\\.\\COM")) names.push_back(std::move(name));
  return names;
}

std::vector<std::string> RegisteredPortNames(const std::string&) {
  std::vector<std::string> ports;
  const win::RegistryKey map(HKEY_LOCAL_MACHINE, kSerialMap);
  if (!map.valid()) return ports;
  for (const std::string& value : win::ValueNames(map.get()))
    if (auto port = win::ReadTextValue(map.get(), value.c_str())) ports.push_back(std::move(*port));
  return ports;
}

std::vector<std::string> PortFriendlyNames(const std::string&, const std::string&) {
  std::vector<std::string> names;
  const win::SetupApi api;
  if (!api.ok()) return names;
  // Every device of the class stored in the system, present or not.
  const win::DeviceInfoSet devices(api, api.GetClassDevs(&kPortsClass, nullptr, nullptr, 0));
  devices.ForEachDevice([&](SP_DEVINFO_DATA& info) {
    if (auto name = devices.TextProperty(info, SPDRP_FRIENDLYNAME)) names.push_back(std::move(*name));
  });
  return names;
}

}  // namespace platform
