#include "platform/OpenFailure.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "platform/DeviceTree.h"
#include "platform/LastError.h"
#include "platform/linux/DeviceHolders.h"
#include "platform/linux/DeviceOwner.h"

namespace platform {

OpenFailureKind OpenFailureKindOf(int errorCode, bool listed) {
  switch (errorCode) {
    case 0:
      return OpenFailureKind::None;
    case EACCES:
    case EPERM:
      return OpenFailureKind::PermissionDenied;
    case EBUSY:
      return OpenFailureKind::InUse;
    case ENOENT:
    case ENODEV:
    case ENXIO:
      return listed ? OpenFailureKind::Gone : OpenFailureKind::Other;
    default:
      return OpenFailureKind::Other;
  }
}

namespace {

namespace fs = std::filesystem;

template <typename T>
bool Contains(const std::vector<T>& items, const T& item) {
  return std::find(items.begin(), items.end(), item) != items.end();
}

void DescribeGroup(OpenFailure& failure, const std::string& path, const SystemRoots& roots, const Identity& who) {
  failure.user = who.user;
  const std::optional<gid_t> gid = DeviceGroupId(path);
  if (!gid) return;
  const std::optional<GroupEntry> entry = FindGroup(roots.groupFile, *gid);
  failure.group = entry ? entry->name : std::to_string(*gid);
  failure.userInGroup = who.primaryGroup == *gid || (entry && Contains(entry->members, who.user));
  failure.sessionHasGroup = Contains(who.sessionGroups, *gid);
}

// The ids of the USB adapter behind the tty node at 'path': the node's name
// (links followed) in sysfs's tty class, up to its USB device.
std::optional<UsbIds> AdapterIds(const std::string& path, const std::string& sysRoot) {
  std::error_code ec;
  const fs::path node = fs::canonical(path, ec);
  if (ec) return std::nullopt;
  const fs::path root = fs::canonical(sysRoot, ec);
  if (ec) return std::nullopt;
  const fs::path device = fs::canonical(root / "class" / "tty" / node.filename() / "device", ec);
  if (ec) return std::nullopt;
  const auto usb = devtree::UsbDeviceAbove(device, root);
  if (!usb) return std::nullopt;
  auto vendor = devtree::ReadAttribute(*usb / "idVendor");
  auto product = devtree::ReadAttribute(*usb / "idProduct");
  if (!vendor || !product || vendor->empty() || product->empty()) return std::nullopt;
  return UsbIds{std::move(*vendor), std::move(*product)};
}

std::optional<DeviceHolder> ModemManagerAmong(const std::vector<DeviceHolder>& processes) {
  const auto found = std::find_if(processes.begin(), processes.end(),
                                  [](const DeviceHolder& p) { return p.program == kModemManagerProgram; });
  if (found == processes.end()) return std::nullopt;
  return *found;
}

void DescribeHolders(OpenFailure& failure, const std::string& path, const SystemRoots& roots) {
  failure.holders = FindDeviceHolders(path, roots.proc);
  failure.modemManager = ModemManagerAmong(failure.holders.seen);
  if (failure.holders.seen.empty()) failure.modemManager = ModemManagerAmong(failure.holders.unseen);
  if (failure.modemManager) failure.adapter = AdapterIds(path, roots.sys);
}

}  // namespace

OpenFailure DescribeOpenFailure(int errorCode, const std::string& deviceName, bool listed, const SystemRoots& roots,
                                const Identity& who) {
  OpenFailure failure;
  failure.kind = OpenFailureKindOf(errorCode, listed);
  failure.errorCode = errorCode;
  if (errorCode != 0) failure.systemText = SystemErrorMessage(errorCode);
  const std::string path = devtree::DevicePath(deviceName, roots.dev);
  if (failure.kind == OpenFailureKind::PermissionDenied) DescribeGroup(failure, path, roots, who);
  if (failure.kind == OpenFailureKind::InUse) DescribeHolders(failure, path, roots);
  return failure;
}

OpenFailure DescribeOpenFailure(int errorCode, const std::string& deviceName, bool listed, const SystemRoots& roots) {
  return DescribeOpenFailure(errorCode, deviceName, listed, roots, CurrentIdentity());
}

}  // namespace platform
