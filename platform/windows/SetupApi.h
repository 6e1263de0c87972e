// The device-setup library, loaded at run time by its full path in the
// system folder (never through the search path, so a copy planted beside
// the program or in the working folder is never taken), with the functions
// the port lists use. The library is released with the object.
#pragma once

#include <windows.h>
#include <setupapi.h>

#include <optional>
#include <string>

namespace platform::win {

class SetupApi {
 public:
  // Loads the library and resolves its functions; ok() says whether all
  // were found (the last error tells why not).
  SetupApi();
  ~SetupApi();
  SetupApi(const SetupApi&) = delete;
  SetupApi& operator=(const SetupApi&) = delete;

  bool ok() const { return ok_; }

  decltype(&::SetupDiClassGuidsFromNameA) ClassGuidsFromName = nullptr;
  decltype(&::SetupDiGetClassDevsA) GetClassDevs = nullptr;
  decltype(&::SetupDiEnumDeviceInfo) EnumDeviceInfo = nullptr;
  decltype(&::SetupDiOpenDevRegKey) OpenDevRegKey = nullptr;
  decltype(&::SetupDiGetDeviceRegistryPropertyA) GetDeviceRegistryProperty = nullptr;
  decltype(&::SetupDiDestroyDeviceInfoList) DestroyDeviceInfoList = nullptr;

 private:
  HMODULE module_ = nullptr;
  bool ok_ = false;
};

// A set of devices of the library, destroyed with the object.
class DeviceInfoSet {
 public:
  DeviceInfoSet(const SetupApi& api, HDEVINFO set) : api_(api), set_(set) {}
  ~DeviceInfoSet();
  DeviceInfoSet(const DeviceInfoSet&) = delete;
  DeviceInfoSet& operator=(const DeviceInfoSet&) = delete;

  bool valid() const { return set_ != INVALID_HANDLE_VALUE && set_ != nullptr; }
  HDEVINFO get() const { return set_; }

  // Calls visit(info) for each device of the set, in the library's order.
  template <typename Visit>
  void ForEachDevice(Visit visit) const {
    if (!valid()) return;
    for (DWORD index = 0;; ++index) {
      SP_DEVINFO_DATA info{};
      info.cbSize = sizeof info;
      if (!api_.EnumDeviceInfo(set_, index, &info)) break;
      visit(info);
    }
  }

  // A device's registry property when it is a plain string (REG_SZ), up to
  // its first NUL; nothing otherwise.
  std::optional<std::string> TextProperty(SP_DEVINFO_DATA& info, DWORD property) const;

 private:
  const SetupApi& api_;
  HDEVINFO set_;
};

}  // namespace platform::win
