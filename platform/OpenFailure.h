// Why a device could not be opened, in terms a user can act on: the group
// that keeps them out and whether joining it is done already, the programs
// holding the device, or that the device went away. Nothing here words the
// cause; the caller does, in its own language.
#pragma once

#include <optional>
#include <string>

#include "platform/DeviceHolders.h"
#include "platform/DeviceOwner.h"

namespace platform {

// Where the cause is looked up. Tests point them at built trees.
struct SystemRoots {
  std::string proc = "/proc";
  std::string groupFile = "/etc/group";
  std::string sys = "/sys";
  std::string dev = "/dev";
};

enum class OpenFailureKind {
  None,              // no failure recorded (error code 0)
  PermissionDenied,  // EACCES, EPERM
  InUse,             // EBUSY
  Gone,              // a listed device that is no longer there
  Other,             // anything else: only the system's text says why
};

struct UsbIds {
  std::string vendor;   // idVendor, four hex digits as sysfs gives them
  std::string product;  // idProduct
};

struct OpenFailure {
  OpenFailureKind kind = OpenFailureKind::None;
  int errorCode = 0;
  std::string systemText;  // the system's text for errorCode

  // PermissionDenied: the device's group (its number as text when the group
  // database does not name it; empty when the device cannot be examined),
  // the user, whether the group database lists the user in that group (or
  // has it as the user's primary group), and whether the running session
  // carries the group already.
  std::string group;
  std::string user;
  bool userInGroup = false;
  bool sessionHasGroup = false;

  // InUse: who holds the device. The modem manager when it is among the
  // holders seen, or, while no holder is seen, when it runs where its open
  // files cannot be seen (it runs as root, so a user cannot see what it
  // holds); then the USB adapter's ids, when sysfs gives them.
  DeviceHolders holders;
  std::optional<DeviceHolder> modemManager;
  std::optional<UsbIds> adapter;
};

// The program name (comm) of the system's modem manager, which opens serial
// ports to probe them for modems.
inline constexpr char kModemManagerProgram[] = "ModemManager";

// Why opening 'deviceName' failed with 'errorCode'. A name stands for a path
// as an open takes it (a bare name is a node in roots.dev). 'listed' says the
// name came from a port list just made: a missing node (ENOENT, ENODEV,
// ENXIO) then means the device was removed in between. 'who' is the user the
// open was made for.
OpenFailure DescribeOpenFailure(int errorCode, const std::string& deviceName, bool listed,
                                const SystemRoots& roots = {}, const Identity& who = CurrentIdentity());

}  // namespace platform
