// Per-thread last error of the operating-system layer and the system's
// message texts. Every platform call that can fail returns false and leaves
// its code here, on the calling thread: an errno value on Linux, the
// system's own error code (GetLastError) on Windows.
#pragma once

#include <string>

namespace platform {

// "Queued, completes later": an asynchronous transfer or wait was accepted
// and ends in the background. Never an error. The value lies outside the
// errno range so it cannot be mistaken for a system code.
inline constexpr int kErrorIoPending = 997;

// The codes the component raises itself, in the system's own numbering.
#ifdef _WIN32
inline constexpr int kErrorInvalidParameter = 87;  // ERROR_INVALID_PARAMETER
inline constexpr int kErrorInvalidHandle = 6;      // ERROR_INVALID_HANDLE
inline constexpr int kErrorNoDevice = 55;          // ERROR_DEV_NOT_EXIST
#else
inline constexpr int kErrorInvalidParameter = 22;  // EINVAL
inline constexpr int kErrorInvalidHandle = 9;      // EBADF
inline constexpr int kErrorNoDevice = 19;          // ENODEV
#endif

int GetLastError() noexcept;
void SetLastError(int code) noexcept;

// The system's text for a code, without trailing blanks, full stops or
// control characters ("No such file or directory").
std::string SystemErrorMessage(int code);

// True for the codes that mean the device has gone away (on Linux EIO,
// ENXIO, ENODEV, a hang-up being reported as EIO; on Windows the codes a
// removed adapter's driver gives). The component closes the port.
bool IsDeviceGone(int code) noexcept;

}  // namespace platform
