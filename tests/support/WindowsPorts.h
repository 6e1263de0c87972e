// Serial ports a Windows test makes known to the system (under Wine, in the
// test's own prefix): a device of the "Ports" class in the registry's
// device tree, as the device-setup library lists it, and an entry of the
// serial-port map. Each is removed again when its object goes.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace windowstest {

inline constexpr char kPortsClassGuid[] = "{4D36E978-E325-11CE-BFC1-08002BE10318}";
inline constexpr char kEnumRoot[] = "SYSTEM\\CurrentControlSet\\Enum\\ROOT\\PORTS";
inline constexpr char kSerialMap[] = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

inline bool SetText(HKEY key, const char* name, const std::string& value, DWORD type = REG_SZ) {
  return ::RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
}

// True while the process with this id runs.
inline bool Running(DWORD pid) {
  HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (process == nullptr) return false;
  DWORD code = 0;
  const bool running = ::GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
  ::CloseHandle(process);
  return running;
}

// A device of the ports class: "PortName" in its device key, a device
// description and, when given, a friendly name. Present as far as the
// device-setup library tells.
class RegisteredPortDevice {
 public:
  RegisteredPortDevice(const std::string& portName, const std::optional<std::string>& description,
                       const std::optional<std::string>& friendlyName = std::nullopt,
                       const char* classGuid = kPortsClassGuid) {
    RemoveLeftovers();
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
  // Devices of test processes that were stopped before they could remove
  // theirs (named "T<process id>_<n>"), so that other tests list only
  // their own.
  static void RemoveLeftovers() {
    HKEY root = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kEnumRoot, 0, KEY_ALL_ACCESS, &root) != ERROR_SUCCESS) return;
    std::vector<std::string> gone;
    char name[256];
    for (DWORD i = 0;; ++i) {
      DWORD size = sizeof name;
      if (::RegEnumKeyExA(root, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
      unsigned long pid = 0;
      if (std::sscanf(name, "T%lu_", &pid) == 1 && !Running(static_cast<DWORD>(pid))) gone.emplace_back(name);
    }
    for (const std::string& key : gone) ::RegDeleteTreeA(root, key.c_str());
    ::RegCloseKey(root);
  }

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
