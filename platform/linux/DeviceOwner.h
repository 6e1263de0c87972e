// Who may use a device node: the group that owns it, that group's entry in
// the group database, and who the running process is, for telling a user
// what stands between them and a device that refused to open.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/OpenFailure.h"

namespace platform {

// One entry of a group database in the format of /etc/group
// ("name:password:number:member,member").
struct GroupEntry {
  gid_t id = 0;
  std::string name;
  std::vector<std::string> members;  // the users listed as members
};

// The entry numbered 'id' in the group file 'groupFile' (the first, as the
// system takes it); nothing when the file cannot be read or has no such
// entry. Malformed lines are passed over.
std::optional<GroupEntry> FindGroup(const std::string& groupFile, gid_t id);

// The number of the group owning 'path' (the node itself, links followed);
// nothing when 'path' cannot be examined.
std::optional<gid_t> DeviceGroupId(const std::string& path);

// Who the running process is: its user's name, the primary group the user
// database gives the user, and the groups the running session carries (as
// fixed at log-in: a group joined since then is not among them).
struct Identity {
  std::string user;  // the user number as text when it has no name
  gid_t primaryGroup = 0;
  std::vector<gid_t> sessionGroups;  // supplementary groups and the effective group
};
Identity CurrentIdentity();

// DescribeOpenFailure (platform/OpenFailure.h) for the user 'who' instead
// of the running process's.
OpenFailure DescribeOpenFailure(int errorCode, const std::string& deviceName, bool listed, const SystemRoots& roots,
                                const Identity& who);

}  // namespace platform
