// Serial ports a Windows test makes known to the system (under Wine, in the
// test's own prefix): a device of the "Ports" class in the registry's
// device tree, as the device-setup library lists it, and an entry of the
// serial-port map. Each is removed again when its object goes.
#pragma once

#include <windows.h>

#include <atomic>
#include <optional>
#include <string>

namespace windowstest {

inline constexpr char kPortsClassGuid[] = "{4D36E978-E325-11CE-BFC1-08002BE10318}";
inline constexpr char kEnumRoot[] = "SYSTEM\\CurrentControlSet\\Enum\\ROOT\\PORTS";
inline constexpr char kSerialMap[] = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

inline bool SetText(HKEY key, const char* name, const std::string& value, DWORD type = REG_SZ) {
  return ::RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
}

// A device of the ports class: "PortName" in its device key, a device
// description and, when given, a friendly name. Present as far as the
// device-setup library tells.
class RegisteredPortDevice {
 public:
  RegisteredPortDevice(const std::string& portName, const std::optional<std::string>& description,
                       const std::optional<std::string>& friendlyName = std::nullopt,
                       const char* classGuid = kPortsClassGuid) {
    static std::atomic<int> made{0};
    instance_ = std::string(kEnumRoot) + "\\T" + std::to_string(::GetCurrentProcessId()) + "_" +
                std::to_string(made++);
    HKEY key = nullptr;
    if (::RegCreateKeyExA(HKEY_LOCAL_MACHINE, instance_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                          nullptr) != ERROR_SUCCESS)
      return;
    bool ok = SetText(key, "ClassGUID", classGuid);
    if (description) ok = ok && SetText(key, "DeviceDesc", *description);
    if (friendlyName) ok = ok && SetText(key, "FriendlyName", *friendlyName);
    HKEY parameters = nullptr;
    ok = ok && ::RegCreateKeyExA(key, "Device Parameters", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &parameters,
                                 nullptr) == ERROR_SUCCESS;
    if (parameters) {
      ok = ok && SetText(parameters, "PortName", portName);
      ::RegCloseKey(parameters);
    }
    ::RegCloseKey(key);
    ok_ = ok;
  }
  ~RegisteredPortDevice() { ::RegDeleteTreeA(HKEY_LOCAL_MACHINE, instance_.c_str()); }
  RegisteredPortDevice(const RegisteredPortDevice&) = delete;
  RegisteredPortDevice& operator=(const RegisteredPortDevice&) = delete;

  bool ok() const { return ok_; }

 private:
  std::string instance_;
  bool ok_ = false;
};

// A value of the serial-port map: its name a driver's device, its data the
// port name.
class SerialMapEntry {
 public:
  SerialMapEntry(const std::string& device, const std::string& portName, DWORD type = REG_SZ) : device_(device) {
    HKEY key = nullptr;
    if (::RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSerialMap, 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr,
                          &key, nullptr) != ERROR_SUCCESS)
      return;
    ok_ = SetText(key, device_.c_str(), portName, type);
    ::RegCloseKey(key);
  }
  ~SerialMapEntry() { ::RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, kSerialMap, device_.c_str()); }
  SerialMapEntry(const SerialMapEntry&) = delete;
  SerialMapEntry& operator=(const SerialMapEntry&) = delete;

  bool ok() const { return ok_; }

 private:
  std::string device_;
  bool ok_ = false;
};

}  // namespace windowstest
