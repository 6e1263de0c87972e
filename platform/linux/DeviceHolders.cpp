#include "platform/linux/DeviceHolders.h"

#include <sys/stat.h>

#include <charconv>
#include <filesystem>
#include <optional>

#include "platform/DeviceTree.h"

namespace platform {

namespace {

namespace fs = std::filesystem;

// The process number a folder of the process tree stands for; nothing for
// the tree's other entries.
std::optional<int> ProcessId(const fs::directory_entry& entry) {
  const std::string name = entry.path().filename().string();
  int pid = 0;
  const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), pid);
  if (name.empty() || error != std::errc() || end != name.data() + name.size() || pid <= 0) return std::nullopt;
  return pid;
}

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// Whether any of the process's open files (the links in 'fdFolder') is
// 'device'; nothing when the folder cannot be read for another reason than
// the process having ended.
std::optional<bool> HoldsFile(const fs::path& fdFolder, const struct stat& device) {
  std::error_code ec;
  fs::directory_iterator it(fdFolder, ec);
  if (ec) {
    if (ec == std::errc::no_such_file_or_directory) return false;
    return std::nullopt;
  }
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    struct stat info {};
    if (::stat(it->path().c_str(), &info) == 0 && SameFile(info, device)) return true;
  }
  return false;
}

}  // namespace

DeviceHolders FindDeviceHolders(const std::string& devicePath, const std::string& procRoot) {
  DeviceHolders holders;
  struct stat device {};
  if (::stat(devicePath.c_str(), &device) != 0) return holders;
  devtree::ForEachEntry(procRoot, [&](const fs::directory_entry& entry) {
    const std::optional<int> pid = ProcessId(entry);
    if (!pid) return;
    const std::optional<bool> holds = HoldsFile(entry.path() / "fd", device);
    if (holds && !*holds) return;
    DeviceHolder holder{*pid, devtree::ReadAttribute(entry.path() / "comm").value_or("")};
    (holds ? holders.seen : holders.unseen).push_back(std::move(holder));
  });
  return holders;
}

}  // namespace platform
