// Device arrival and removal notices on the user-interface thread: what the
// message window's device-change broadcasts are elsewhere.
//
// One platform device monitor per watched <dev> root (with the sysfs root
// that tells its registered ports; Windows passes over both) serves the
// whole process. On the user-interface thread, a socket notifier on the
// monitor's descriptor (Linux) or a native event filter that hands the
// monitor every message of the thread's message loop (Windows: the
// monitor's hidden window gets the device-change messages) tells when
// notices wait; they are read and each one is handed to every hook
// registered for that root, in the order of registration. A hook is a callback; it runs guarded (an
// exception goes to the application's exception display, never into Qt),
// also inside modal loops. The monitor is made with the first hook for its
// root and closed with the last.
//
// The dispatcher is the user-interface thread's (no lock is taken):
// registering happens there only, and an unregistration asked for on
// another thread is carried out there, between notices, the caller
// waiting for it (RunWhereNoticesAreHandedOut), so no hook is called once
// its unregistration has returned and a monitor and its notifier go on the
// thread that reads them. A hook may register or unregister hooks, itself
// included, while it runs; a hook unregistered meanwhile is not called
// again, not even for the rest of the notices already read.
#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/DeviceMonitor.h"

using TDeviceNotice = platform::DeviceNotice;
using TDeviceNoticeHook = std::function<void(const TDeviceNotice& notice)>;
// A registration; 0 is none.
using TDeviceNotifyHandle = std::uint64_t;

// Registers 'hook' for the devices of 'devRoot' (the system's device root
// on a running system), whose registered ports 'sysRoot' lists. 0 when there is no
// application object, the call is not on its thread, or the monitor cannot
// be made (the platform's last error tells why).
TDeviceNotifyHandle RegisterDeviceNotification(const QString& devRoot, TDeviceNoticeHook hook,
                                               const QString& sysRoot = QString::fromLatin1(platform::kDefaultSysRoot));

// Removes a registration, from any thread (see above; with no application
// object left it is removed at once). False when 'handle' is not
// registered.
bool UnregisterDeviceNotification(TDeviceNotifyHandle handle);

// Runs 'fn' on the user-interface thread, where notices are handed out,
// the caller waiting for it (TThread::Synchronize): at once on that
// thread, and here when no application object is left to run it there
// (nothing hands out notices then). What 'fn' raises is raised here. For
// state that hooks read.
void RunWhereNoticesAreHandedOut(const std::function<void()>& fn);

// The hooks registered now, over all roots (on the user-interface thread).
int RegisteredDeviceHooks();

// How monitors are made (tests give one they feed, or one that fails).
// Empty: the system's monitor (platform::DeviceMonitor::CreateForSystem). Applies to monitors made
// afterwards.
using TDeviceMonitorFactory =
    std::function<std::unique_ptr<platform::DeviceMonitor>(const std::string& devRoot, const std::string& sysRoot)>;
void SetDeviceMonitorFactory(TDeviceMonitorFactory factory);
