// Which processes hold a device open, found as the system shows it: each
// process folder /proc/<pid> lists its open files as links in fd/, and names
// its program in comm. The process tree's root is a parameter so that tests
// can point it at a built tree.
#pragma once

#include <string>

#include "platform/OpenFailure.h"

namespace platform {

// The processes under 'procRoot' with an open file that is the node at
// 'devicePath' (the same file, however it was reached). A process that ends
// while it is examined is passed over; nothing is found when 'devicePath'
// cannot be examined.
DeviceHolders FindDeviceHolders(const std::string& devicePath, const std::string& procRoot = "/proc");

}  // namespace platform
