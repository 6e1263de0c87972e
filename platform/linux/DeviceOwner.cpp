#include "platform/linux/DeviceOwner.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <fstream>
#include <sstream>

namespace platform {

namespace {

std::vector<std::string> SplitAt(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::istringstream in(text);
  std::string part;
  while (std::getline(in, part, separator)) parts.push_back(part);
  if (!text.empty() && text.back() == separator) parts.emplace_back();
  return parts;
}

// One line of a group file; nothing when it is not "name:pw:number:members".
std::optional<GroupEntry> ParseGroupLine(const std::string& line) {
  const std::vector<std::string> fields = SplitAt(line, ':');
  if (fields.size() != 4 || fields[0].empty()) return std::nullopt;
  GroupEntry entry;
  const std::string& number = fields[2];
  const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), entry.id);
  if (error != std::errc() || end != number.data() + number.size() || number.empty()) return std::nullopt;
  entry.name = fields[0];
  for (std::string& member : SplitAt(fields[3], ','))
    if (!member.empty()) entry.members.push_back(std::move(member));
  return entry;
}

}  // namespace

std::optional<GroupEntry> FindGroup(const std::string& groupFile, gid_t id) {
  std::ifstream in(groupFile);
  std::string line;
  while (std::getline(in, line)) {
    const auto entry = ParseGroupLine(line);
    if (entry && entry->id == id) return entry;
  }
  return std::nullopt;
}

std::optional<gid_t> DeviceGroupId(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return std::nullopt;
  return info.st_gid;
}

Identity CurrentIdentity() {
  Identity who;
  const uid_t uid = ::geteuid();
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(static_cast<std::size_t>(size > 0 ? size : 16384));
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
    who.user = found->pw_name;
    who.primaryGroup = found->pw_gid;
  } else {
    who.user = std::to_string(uid);
    who.primaryGroup = ::getgid();
  }
  const int count = ::getgroups(0, nullptr);
  if (count > 0) {
    who.sessionGroups.resize(static_cast<std::size_t>(count));
    const int got = ::getgroups(count, who.sessionGroups.data());
    who.sessionGroups.resize(static_cast<std::size_t>(std::max(got, 0)));
  }
  who.sessionGroups.push_back(::getegid());
  return who;
}

}  // namespace platform
