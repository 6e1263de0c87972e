#include "platform/DeviceOwner.h"

#include <grp.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace platform {

std::string DeviceGroupName(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return {};
  long size = ::sysconf(_SC_GETGR_R_SIZE_MAX);
  std::vector<char> buffer(static_cast<std::size_t>(size > 0 ? size : 16384));
  group entry{};
  group* found = nullptr;
  if (::getgrgid_r(info.st_gid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr)
    return found->gr_name;
  return std::to_string(info.st_gid);
}

}  // namespace platform
