#include "platform/DeviceLists.h"

#include <filesystem>

#include "platform/DeviceTree.h"
#include "platform/linux/SysfsPorts.h"

namespace platform {

namespace {

namespace fs = std::filesystem;

bool IsDeviceNode(fs::file_status status) {
  return fs::is_character_file(status) || fs::is_block_file(status);
}

// A node directly in <dev>, or a link there that leads to one within <dev>.
bool NamesDeviceNode(const fs::directory_entry& entry, const fs::path& devRoot) {
  std::error_code ec;
  const fs::file_status own = entry.symlink_status(ec);
  if (ec) return false;
  if (!fs::is_symlink(own)) return IsDeviceNode(own);
  const auto node = devtree::ResolveWithin(entry.path(), devRoot);
  if (!node) return false;
  const fs::file_status target = fs::symlink_status(*node, ec);
  return !ec && IsDeviceNode(target);
}

std::vector<std::string> NamesOf(const std::vector<SerialPortEntry>& ports) {
  std::vector<std::string> names;
  names.reserve(ports.size());
  for (const auto& port : ports) names.push_back(port.name);
  return names;
}

}  // namespace

std::vector<std::string> DeviceNodeNames(const std::string& devRootGiven) {
  std::vector<std::string> names;
  std::error_code ec;
  const fs::path devRoot = fs::canonical(devRootGiven, ec);
  if (ec) return names;
  devtree::ForEachEntry(devRoot, [&](const fs::directory_entry& e) {
    if (NamesDeviceNode(e, devRoot)) names.push_back(e.path().filename().string());
  });
  return names;
}

std::vector<std::string> SerialPortNames(const std::string& sysRoot, const std::string& devRoot) {
  return NamesOf(ListPresentPorts(sysRoot, devRoot));
}

std::vector<std::string> RegisteredPortNames(const std::string& sysRoot) {
  return NamesOf(ListRegisteredPorts(sysRoot));
}

std::vector<std::string> PortFriendlyNames(const std::string& sysRoot,
                                           const std::string& devRoot) {
  std::vector<std::string> names;
  for (const auto& port : ListPresentPorts(sysRoot, devRoot))
    if (!port.description.empty()) names.push_back(port.description + " (" + port.name + ")");
  return names;
}

}  // namespace platform
