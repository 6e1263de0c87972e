// Per-thread last error of the operating-system layer and the system's
// message texts. Every platform call that can fail returns false and leaves
// its errno-style code here, on the calling thread.
#pragma once

#include <string>

namespace platform {

// "Queued, completes later": an asynchronous transfer or wait was accepted
// and ends in the background. Never an error. The value lies outside the
// errno range so it cannot be mistaken for a system code.
inline constexpr int kErrorIoPending = 997;

int GetLastError() noexcept;
void SetLastError(int code) noexcept;

// The system's text for a code, without trailing blanks, full stops or
// control characters ("No such file or directory").
std::string SystemErrorMessage(int code);

// True for the codes that mean the device has gone away (EIO, ENXIO,
// ENODEV; a hang-up is reported as EIO). The component closes the port.
bool IsDeviceGone(int code) noexcept;

}  // namespace platform
