// Why a device could not be opened, in terms a user can act on: the group
// that keeps them out and whether joining it is done already, the programs
// holding the device, or that the device went away. Nothing here words the
// cause; the caller does, in its own language.
#pragma once

#include <optional>
#include <string>

#include "platform/DeviceHolders.h"
#include "platform/DeviceOwner.h"

/// @file
/// The cause of a failed open and the facts that explain it.

/// Operating-system services.
namespace platform {

/// Where the cause is looked up. Tests point them at built trees.
struct SystemRoots {
  std::string proc = "/proc";            ///< the process tree
  std::string groupFile = "/etc/group";  ///< the group database
  std::string sys = "/sys";              ///< the sysfs tree (USB ids)
  std::string dev = "/dev";              ///< the device folder (bare names)
};

/// What kind of cause kept a device from opening.
enum class OpenFailureKind {
  None,              ///< no failure recorded (error code 0)
  PermissionDenied,  ///< EACCES, EPERM
  InUse,             ///< EBUSY
  Gone,              ///< a listed device that is no longer there
  Other,             ///< anything else: only the system's text says why
};

/// The kind of cause an open's @p errorCode stands for; a missing device
/// (ENOENT, ENODEV, ENXIO) is Gone only when the name was @p listed.
/// Raises nothing; may be called on any thread.
OpenFailureKind OpenFailureKindOf(int errorCode, bool listed);

/// A USB adapter's ids, as sysfs gives them.
struct UsbIds {
  std::string vendor;   ///< idVendor, four hex digits
  std::string product;  ///< idProduct
};

/// Why an open failed, with the facts a program words for its user.
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
  /// not be looked into (another user's).
  DeviceHolders holders;
  /// InUse: the modem manager when it is among the holders seen, or, while
  /// no holder is seen, when it runs where its open files cannot be seen
  /// (it runs as root, so a user cannot see what it holds).
  std::optional<DeviceHolder> modemManager;
  /// InUse with a modem manager: the USB adapter's ids, when sysfs gives
  /// them (for a rule that makes the manager leave the adapter alone).
  std::optional<UsbIds> adapter;
};

/// The program name (comm) of the system's modem manager, which opens serial
/// ports to probe them for modems.
inline constexpr char kModemManagerProgram[] = "ModemManager";

/// Why opening @p deviceName failed with @p errorCode. A name stands for a
/// path as an open takes it (a bare name is a node in roots.dev). @p listed
/// says the name came from a port list just made: a missing node (ENOENT,
/// ENODEV, ENXIO) then means the device was removed in between. @p roots
/// are where the facts are read, @p who is the user the open was made for.
/// Reads files only; raises nothing; may be called on any thread.
OpenFailure DescribeOpenFailure(int errorCode, const std::string& deviceName, bool listed,
                                const SystemRoots& roots = {}, const Identity& who = CurrentIdentity());

}  // namespace platform
