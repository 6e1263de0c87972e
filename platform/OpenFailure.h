// Why a device could not be opened, in terms a user can act on. Nothing
// here words the cause; the caller does, in its own language.
//
// Linux: the group that keeps the user out and whether joining it is done
// already, the programs holding the device (from the process tree), or that
// the device went away (platform/linux/DeviceOwner.h, DeviceHolders.h).
// Windows opens a communications port for one program at a time and tells
// nothing of who holds it: a port in use is named as such, a listed port
// that is no longer there is gone, and anything else carries the system's
// text; no process tree or group is looked at.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/DeviceNames.h"

/// @file
/// The cause of a failed open and the facts that explain it.

/// Operating-system services.
namespace platform {

/// Where the cause is looked up. Tests point them at built trees. Windows
/// passes over all of them but dev (where a bare name is looked up).
struct SystemRoots {
  std::string proc = "/proc";            ///< the process tree
  std::string groupFile = "/etc/group";  ///< the group database
  std::string sys = kDefaultSysRoot;     ///< the sysfs tree (USB ids)
  std::string dev = kDefaultDevRoot;     ///< the device namespace (bare names)
};

/// What kind of cause kept a device from opening.
enum class OpenFailureKind {
  None,              ///< no failure recorded (error code 0)
  PermissionDenied,  ///< the user may not use the device (Linux: EACCES, EPERM)
  InUse,             ///< another program holds it (EBUSY; Windows: access denied, sharing violation)
  Gone,              ///< a listed device that is no longer there
  Other,             ///< anything else: only the system's text says why
};

/// The kind of cause an open's @p errorCode (the system's own code) stands
/// for; a missing device (Linux: ENOENT, ENODEV, ENXIO; Windows: file or
/// path not found, no such device) is Gone only when the name was
/// @p listed. Raises nothing; may be called on any thread.
OpenFailureKind OpenFailureKindOf(int errorCode, bool listed);

/// A USB adapter's ids, as sysfs gives them.
struct UsbIds {
  std::string vendor;   ///< idVendor, four hex digits
  std::string product;  ///< idProduct
};

/// A process holding a device.
struct DeviceHolder {
  int pid = 0;          ///< the process number
  std::string program;  ///< the process's program name; empty when it cannot be read
};

/// The processes seen holding a device.
struct DeviceHolders {
  std::vector<DeviceHolder> seen;  ///< in the order the process tree lists them
  /// The processes whose open files could not be read (processes of other
  /// users): the device may be held where it cannot be seen.
  std::vector<DeviceHolder> unseen;
};

/// Why an open failed, with the facts a program words for its user. The
/// facts beyond kind, code and text are found on Linux only.
struct OpenFailure {
  OpenFailureKind kind = OpenFailureKind::None;  ///< the cause
  int errorCode = 0;                              ///< the system's error code
  std::string systemText;                         ///< the system's text for errorCode

  /// PermissionDenied: the device's group (its number as text when the
  /// group database does not name it; empty when the device cannot be
  /// examined).
  std::string group;
  /// PermissionDenied: the user the open was made for.
  std::string user;
  /// PermissionDenied: the group database lists the user in the group (or
  /// has it as the user's primary group).
  bool userInGroup = false;
  /// PermissionDenied: the running session carries the group already (so
  /// logging in again changes nothing).
  bool sessionHasGroup = false;

  /// InUse: the processes seen holding the device, and whether some could
  /// not be looked into (another user's). Empty where the system does not
  /// tell.
  DeviceHolders holders;
  /// InUse: the modem manager when it is among the holders seen, or, while
  /// no holder is seen, when it runs where its open files cannot be seen
  /// (it runs as root, so a user cannot see what it holds).
  std::optional<DeviceHolder> modemManager;
  /// InUse with a modem manager: the USB adapter's ids, when sysfs gives
  /// them (for a rule that makes the manager leave the adapter alone).
  std::optional<UsbIds> adapter;
};

/// The program name (comm) of the Linux modem manager, which opens serial
/// ports to probe them for modems.
inline constexpr char kModemManagerProgram[] = "ModemManager";

/// Why opening @p deviceName failed with @p errorCode, for the running
/// process's user. A name stands for a path as an open takes it (a bare
/// name is a device in roots.dev). @p listed says the name came from a
/// port list just made: a missing device then means it was removed in
/// between. @p roots are where the facts are read. Reads files only; raises
/// nothing; may be called on any thread.
OpenFailure DescribeOpenFailure(int errorCode, const std::string& deviceName, bool listed,
                                const SystemRoots& roots = {});

}  // namespace platform
