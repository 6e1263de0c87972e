#include "platform/DeviceNames.h"

namespace platform {

bool IsDevicePathName(const std::string& name) { return name.find_first_of(kPathSeparators) != std::string::npos; }

std::string DevicePath(const std::string& name, const std::string& devRoot) {
  if (name.empty() || IsDevicePathName(name)) return name;
  return InDeviceRoot(name, devRoot);
}

std::string InDeviceRoot(const std::string& name, const std::string& devRoot) {
  return devRoot + kPathSeparators[0] + name;
}

}  // namespace platform
