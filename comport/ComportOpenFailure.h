// Why a port could not be opened: the cause behind an EComError raised by
// Open, described so that a program can tell its user what to do (join a
// group, log in again, close another program, plug the device in). The
// description carries facts, not sentences: the program words them. What
// can be found out depends on the system (platform/OpenFailure.h): Windows
// tells the kind and the system's text only.
#pragma once

#include <QString>

#include "platform/OpenFailure.h"

/// @file
/// Why a port could not be opened, described for the program's user.

/// Why opening the device @p deviceName (as TCustomComPort::DeviceName or
/// DevicePath gives it) failed with @p errorCode (EComError::ComErrorCode).
/// @p listed says the name was taken from a port list just made, so that a
/// missing device means it was removed since. @p roots are where the process
/// tree, the group database and the device trees are read (Linux): the
/// system's unless a test points them at built trees (roots.dev is where a
/// bare name is looked up, as SetDeviceRoots sets it for the port).
/// @return the cause with its facts (platform::OpenFailure); raises nothing.
/// Reads files only; may be called on any thread.
platform::OpenFailure DescribeComOpenFailure(const QString& deviceName, int errorCode, bool listed,
                                             const platform::SystemRoots& roots = {});
