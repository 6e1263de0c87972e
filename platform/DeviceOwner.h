// Who may use a device node: the name of the group that owns it, for
// telling a user which group to join when opening it was refused.
#pragma once

#include <string>

namespace platform {

// The name of the group owning 'path' (the node itself, links followed);
// the group number as text when it has no name; empty when 'path' cannot
// be examined.
std::string DeviceGroupName(const std::string& path);

}  // namespace platform
