// The serial configuration record, the device's default configuration,
// which the system keeps per device, and the system's configuration dialog.
//
// On Windows the system's own calls do the work (GetDefaultCommConfigA,
// SetDefaultCommConfigA, CommConfigDialogA); they take a port's name
// ("COM3"), so a name in the device namespace ("\\.\COM3") is given to
// them without its prefix. Windows has a dialog of its own; Linux has none.
//
// On Linux the store is the component's own, per user. A device name
// without a '/' names a node in the device folder ("ttyUSB0" is
// "<dev>/ttyUSB0"); a name with one is a path as given
// ("/dev/serial/by-id/usb-...", "/dev/pts/3"). The name must lead, through
// any links, to a terminal: a character device the tty layer serves, as
// its list of drivers tells (/proc/tty/drivers), without the entries that
// stand for another terminal or make a new one (/dev/tty, /dev/console,
// /dev/ptmx). The device is looked at, never opened. Its default
// configuration is one small text file in the per-user store,
// "<config folder>/comport/defaults/<key>.conf", where the key is the
// device's path below the device folder ("ttyUSB0", "pts/3"), or its whole
// path for a device elsewhere, with '%' written as "%25" and '/' as "%2F":
// every name of one device shares its file, and no key leaves the folder.
// With nothing stored the default is the tty layer's: 9600 baud, 8 data
// bits, no parity, one stop bit, no flow control, DTR and RTS raised.
//
// Every operation returns false on failure and leaves the code in the
// calling thread's last error (LastError.h), never 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/SerialDevice.h"

namespace platform {

// Size of the record as the record's own size field states it.
inline constexpr uint32_t kCommConfigSize = 52;
inline constexpr uint16_t kCommConfigVersion = 1;
// Provider subtype of a serial port.
inline constexpr uint32_t PST_RS232 = 1;

struct COMMCONFIG {
  uint32_t dwSize = kCommConfigSize;
  uint16_t wVersion = kCommConfigVersion;
  uint16_t wReserved = 0;
  DCB dcb;
  uint32_t dwProviderSubType = PST_RS232;
  uint32_t dwProviderOffset = 0;  // no provider data follows
  uint32_t dwProviderSize = 0;
  char wcProviderData[1] = {};
};
static_assert(sizeof(COMMCONFIG) == kCommConfigSize, "the configuration record is 52 bytes");
static_assert(offsetof(COMMCONFIG, dcb) == 8 && offsetof(COMMCONFIG, dwProviderSubType) == 36,
              "the configuration record has the system's layout");

// Where devices, terminals and stored defaults are looked for on Linux. An
// empty store folder means the per-user one (DefaultCommConfigFolder);
// tests pass places of their own. Windows keeps its defaults itself and
// looks at none of them.
struct CommConfigPlaces {
  std::string devRoot = "/dev";
  std::string storeFolder;
  // The tty layer's list of its drivers and their device numbers.
  std::string ttyDrivers = "/proc/tty/drivers";
};

#ifndef _WIN32
// "<config>/comport/defaults", where <config> is $XDG_CONFIG_HOME when it
// is an absolute path, else "$HOME/.config" (the home folder from the user
// database when HOME is unset). Empty when neither can be found.
std::string DefaultCommConfigFolder();

// The configuration a device has when none is stored.
COMMCONFIG BuiltInCommConfig();
#endif

// Reads the device's default configuration into 'config'. 'size' holds the
// room the caller has; below kCommConfigSize the read fails (ENOBUFS,
// ERROR_INSUFFICIENT_BUFFER) and sets it to the size needed. On success it
// is set to the size filled. An empty name or one holding a NUL fails with
// kErrorInvalidParameter. On Windows the rest is the system's.
// On Linux: a stored file that cannot be understood counts as nothing stored (the
// next store replaces it): one cut short (the store ends every line), with
// a value out of its field's range or a block no serial device takes
// (IsValidDcb), or with a field twice. So does an entry the store never
// makes and its rename replaces, a FIFO or a link: it is never opened
// through, so it can neither block the read nor lead elsewhere. Fails with
// EINVAL for an empty name or one holding a NUL, with ENOENT (or what
// resolving it said) for a name that leads nowhere, ENOTTY for one that
// leads to no terminal, the system's code when the tty layer's list cannot
// be read, and with the system's code when an existing stored file cannot
// be read (EISDIR for a folder in its place).
bool GetDefaultCommConfig(const std::string& name, COMMCONFIG& config, uint32_t& size);
bool GetDefaultCommConfig(const std::string& name, COMMCONFIG& config, uint32_t& size,
                          const CommConfigPlaces& places);

// Stores the device control block of 'config' as the device's default
// configuration, replacing the stored one whole. Fails with
// kErrorInvalidParameter for a size or record size below kCommConfigSize
// and for a name as the read refuses it; on Windows the rest is the
// system's. On Linux (a new file renamed into place, the folder synced
// after the rename) it fails with EINVAL for a block no serial device
// takes, otherwise as the read does, or with the system's code when the
// store cannot be written (ENOENT when there is no store folder).
bool SetDefaultCommConfig(const std::string& name, const COMMCONFIG& config, uint32_t size);
bool SetDefaultCommConfig(const std::string& name, const COMMCONFIG& config, uint32_t size,
                          const CommConfigPlaces& places);

// What became of a request for the system's configuration dialog.
enum class SystemCommConfigDialog {
  kConfirmed,  // the record holds what the user confirmed
  kCancelled,  // cancelled, or not shown (last error set: ERROR_CANCELLED
               // when the user cancelled, else why it could not be shown)
  kNone,       // the system has no such dialog (Linux): the caller shows
               // one of its own
};

// Shows the system's serial configuration dialog for the device 'name' on
// 'config', modal, owned by the native window 'owner' (0 for none; a value
// that is no window of the system's is taken as none). Only a confirmed
// dialog changes the record. Call it on the user-interface thread.
SystemCommConfigDialog ShowSystemCommConfigDialog(const std::string& name, std::uintptr_t owner,
                                                  COMMCONFIG& config);

}  // namespace platform
