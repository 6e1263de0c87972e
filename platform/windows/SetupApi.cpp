#include "platform/windows/SetupApi.h"

#include <cstring>
#include <string>
#include <vector>

namespace platform::win {

namespace {

constexpr char kLibraryName[] = "\\setupapi.dll";
// The property buffer the descriptions are read into; longer texts are
// read with the size the library asks for.
constexpr DWORD kPropertyBuffer = 1024;
// The largest property read: a registry text is far shorter.
constexpr DWORD kLargestProperty = 1 << 20;

template <typename F>
bool Resolve(HMODULE module, const char* name, F& function) {
  function = reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
  return function != nullptr;
}

// The library's full path: the system folder, then its name. Empty when
// the system folder cannot be found.
std::string LibraryPath() {
  char folder[MAX_PATH + 1] = {};
  const UINT length = ::GetSystemDirectoryA(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return {};
  return std::string(folder, length) + kLibraryName;
}

}  // namespace

SetupApi::SetupApi() {
  const std::string path = LibraryPath();
  if (path.empty()) return;
  module_ = ::LoadLibraryA(path.c_str());
  if (!module_) return;
  ok_ = Resolve(module_, "SetupDiClassGuidsFromNameA", ClassGuidsFromName) &&
        Resolve(module_, "SetupDiGetClassDevsA", GetClassDevs) &&
        Resolve(module_, "SetupDiEnumDeviceInfo", EnumDeviceInfo) &&
        Resolve(module_, "SetupDiOpenDevRegKey", OpenDevRegKey) &&
        Resolve(module_, "SetupDiGetDeviceRegistryPropertyA", GetDeviceRegistryProperty) &&
        Resolve(module_, "SetupDiDestroyDeviceInfoList", DestroyDeviceInfoList);
}

SetupApi::~SetupApi() {
  if (module_) ::FreeLibrary(module_);
}

DeviceInfoSet::~DeviceInfoSet() {
  if (valid()) api_.DestroyDeviceInfoList(set_);
}

std::optional<std::string> DeviceInfoSet::TextProperty(SP_DEVINFO_DATA& info, DWORD property) const {
  std::vector<BYTE> buffer(kPropertyBuffer);
  DWORD type = 0;
  DWORD needed = 0;
  bool got = api_.GetDeviceRegistryProperty(set_, &info, property, &type, buffer.data(),
                                            static_cast<DWORD>(buffer.size()), &needed);
  if (!got && ::GetLastError() == ERROR_INSUFFICIENT_BUFFER && needed > buffer.size() && needed <= kLargestProperty) {
    buffer.assign(needed, 0);
    got = api_.GetDeviceRegistryProperty(set_, &info, property, &type, buffer.data(),
                                         static_cast<DWORD>(buffer.size()), &needed);
  }
  if (!got || type != REG_SZ) return std::nullopt;
  const auto* text = reinterpret_cast<const char*>(buffer.data());
  return std::string(text, ::strnlen(text, buffer.size()));
}

}  // namespace platform::win
