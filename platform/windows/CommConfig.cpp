#include "platform/CommConfig.h"

#include "platform/LastError.h"

#include <windows.h>

#include <string_view>

// The system's names for its ANSI or wide calls would rename ours.
#undef GetDefaultCommConfig
#undef SetDefaultCommConfig

namespace platform {

static_assert(sizeof(DCB) == sizeof(::DCB) && sizeof(COMMCONFIG) == sizeof(::COMMCONFIG),
              "the records are the system's");

namespace {

// The system's configuration calls take a port's name, not its path in the
// device namespace.
std::string PortName(const std::string& name) {
  constexpr std::string_view kDeviceNamespace = "\\\\.\\";
  return std::string_view(name).substr(0, kDeviceNamespace.size()) == kDeviceNamespace
             ? name.substr(kDeviceNamespace.size())
             : name;
}

bool IsUsableName(const std::string& name) {
  return !PortName(name).empty() && name.find('\0') == std::string::npos;
}

// Keeps the system's code for the caller. A failure the system reports
// without a code (Wine's for a size it refuses) still carries one, so it
// can never be taken for success.
bool Fail(DWORD code, DWORD whenNone = ERROR_GEN_FAILURE) {
  SetLastError(static_cast<int>(code != 0 ? code : whenNone));
  return false;
}

::COMMCONFIG* SystemRecord(COMMCONFIG& config) { return reinterpret_cast<::COMMCONFIG*>(&config); }

}  // namespace

bool GetDefaultCommConfig(const std::string& name, COMMCONFIG& config, uint32_t& size) {
  if (!IsUsableName(name)) return Fail(ERROR_INVALID_PARAMETER);
  if (size < kCommConfigSize) {
    size = kCommConfigSize;
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  // The record is ours to fill: the system's size field and the room we
  // give agree.
  COMMCONFIG read = config;
  read.dwSize = kCommConfigSize;
  DWORD room = kCommConfigSize;
  ::SetLastError(0);
  if (!::GetDefaultCommConfigA(PortName(name).c_str(), SystemRecord(read), &room)) {
    const DWORD code = ::GetLastError();
    if (code == ERROR_INSUFFICIENT_BUFFER) size = room;
    return Fail(code);
  }
  config = read;
  size = room;
  SetLastError(0);
  return true;
}

bool GetDefaultCommConfig(const std::string& name, COMMCONFIG& config, uint32_t& size, const CommConfigPlaces&) {
  return GetDefaultCommConfig(name, config, size);
}

bool SetDefaultCommConfig(const std::string& name, const COMMCONFIG& config, uint32_t size) {
  if (!IsUsableName(name) || size < kCommConfigSize || config.dwSize < kCommConfigSize)
    return Fail(ERROR_INVALID_PARAMETER);
  COMMCONFIG stored = config;
  ::SetLastError(0);
  if (!::SetDefaultCommConfigA(PortName(name).c_str(), SystemRecord(stored), size)) return Fail(::GetLastError());
  SetLastError(0);
  return true;
}

bool SetDefaultCommConfig(const std::string& name, const COMMCONFIG& config, uint32_t size,
                          const CommConfigPlaces&) {
  return SetDefaultCommConfig(name, config, size);
}

// The dialog edits a copy: only what the user confirmed reaches the
// caller's record.
SystemCommConfigDialog ShowSystemCommConfigDialog(const std::string& name, std::uintptr_t owner,
                                                  COMMCONFIG& config) {
  if (!IsUsableName(name)) {
    Fail(ERROR_INVALID_PARAMETER);
    return SystemCommConfigDialog::kCancelled;
  }
  HWND window = reinterpret_cast<HWND>(owner);
  if (window != nullptr && !::IsWindow(window)) window = nullptr;
  COMMCONFIG edited = config;
  ::SetLastError(0);
  if (!::CommConfigDialogA(PortName(name).c_str(), window, SystemRecord(edited))) {
    Fail(::GetLastError(), ERROR_CANCELLED);
    return SystemCommConfigDialog::kCancelled;
  }
  config = edited;
  SetLastError(0);
  return SystemCommConfigDialog::kConfirmed;
}

}  // namespace platform
