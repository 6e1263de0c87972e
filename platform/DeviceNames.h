// What a port's name means to an open, and where the system keeps its
// devices, so that the layers above never spell a system's folders.
//
// A name without a path separator is a device of the system's device
// namespace, never a file of the working folder: "ttyUSB0" opens
// /dev/ttyUSB0 on Linux, "COM5" opens \\.\COM5 on Windows. A name with a
// separator is a path as given.
//
// The device root (the namespace a bare name is looked up in) and the
// system root (the tree that tells which devices are ports) are parameters
// on Linux, so tests can point them at built trees. On Windows the device
// root is the device namespace "\\." and the system root means nothing:
// the device lists, the port list and the device notices read the system's
// own sources and pass over both roots.
#pragma once

#include <string>

namespace platform {

#ifdef _WIN32
inline constexpr char kDefaultDevRoot[] = "\\\\.";     // the device namespace, \\.
inline constexpr char kDefaultSysRoot[] = "";          // no such tree
inline constexpr char kDeviceNamespacePrefix[] = "\\\\.\\";  // \\.\ before a bare name
inline constexpr char kPathSeparators[] = "\\/";       // the first one joins
#else
inline constexpr char kDefaultDevRoot[] = "/dev";
inline constexpr char kDefaultSysRoot[] = "/sys";
inline constexpr char kDeviceNamespacePrefix[] = "/dev/";
inline constexpr char kPathSeparators[] = "/";
#endif

// True when 'name' holds a path separator (it is a path, not a bare name).
bool IsDevicePathName(const std::string& name);

// The path a device name stands for: a bare name joined to 'devRoot' with
// the system's separator; a path (or an empty name) as given.
std::string DevicePath(const std::string& name, const std::string& devRoot = kDefaultDevRoot);

// 'name' joined to 'devRoot' with the system's separator, whatever it holds
// ("gw/ttyUSB1" in <dev>): the device-namespace form of a listed name.
std::string InDeviceRoot(const std::string& name, const std::string& devRoot = kDefaultDevRoot);

}  // namespace platform
