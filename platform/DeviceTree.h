// Walking the /sys and /dev trees without opening anything: the folder walk
// and the link rules that the Linux port list, device lists, monitor and
// open-failure facts share.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

#include "platform/DeviceNames.h"

namespace platform::devtree {

// Calls visit(entry) for each entry of 'folder' in the order the file system
// gives; an unreadable folder, or an entry that cannot be read, ends the walk
// with what was visited so far.
template <typename Visit>
void ForEachEntry(const std::filesystem::path& folder, Visit visit) {
  std::error_code ec;
  std::filesystem::directory_iterator it(folder, ec);
  for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) visit(*it);
}

// True when 'path' lies strictly below 'base' (both normalised).
bool IsBelow(const std::filesystem::path& path, const std::filesystem::path& base);

// Follows the link chain from 'link' as long as every step stays inside
// 'devRoot' (canonical) and gives where it ends, or nothing. Each step is
// read as written; the end must also be where the system itself resolves the
// link (a ".." after a folder link could otherwise lead elsewhere) and exist.
// A path that is no link resolves to itself when it exists.
std::optional<std::filesystem::path> ResolveWithin(const std::filesystem::path& link,
                                                   const std::filesystem::path& devRoot);

// The first line of an attribute file (sysfs, /proc) without trailing
// blanks, or nothing when it is absent or cannot be read.
std::optional<std::string> ReadAttribute(const std::filesystem::path& file);

// The USB device at or above the sysfs device folder 'device' (canonical):
// the first folder upwards that carries idVendor, staying inside 'sysRoot'
// (canonical). Nothing when there is none.
std::optional<std::filesystem::path> UsbDeviceAbove(const std::filesystem::path& device,
                                                    const std::filesystem::path& sysRoot);

// The device name rule lives with the system-neutral names
// (platform/DeviceNames.h); the tree walks use it from here too.
using platform::DevicePath;

}  // namespace platform::devtree
