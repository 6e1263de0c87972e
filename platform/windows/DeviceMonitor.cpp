#include <windows.h>
#include <dbt.h>

#include <cstddef>
#include <cstring>
#include <mutex>

#include "platform/LastError.h"
#include "platform/windows/WindowsDeviceMonitor.h"

namespace platform {

namespace {

constexpr char kWindowClass[] = "ComPortDeviceMonitor";
// Posted to the monitor's own window when notices are waiting.
constexpr UINT kWakeMessage = WM_APP + 0x75;
// The USB device interface class, {A5DCBF10-6530-11D2-901F-00C04FB951ED}.
constexpr GUID kUsbDeviceInterface = {0xa5dcbf10, 0x6530, 0x11d2, {0x90, 0x1f, 0x00, 0xc0, 0x4f, 0xb9, 0x51, 0xed}};

LRESULT CALLBACK MonitorWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
    ::SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  } else if (message == WM_DEVICECHANGE) {
    // Null once its monitor is going.
    if (auto* monitor = reinterpret_cast<WindowsDeviceMonitor*>(::GetWindowLongPtrA(window, GWLP_USERDATA)))
      monitor->TakeDeviceChange(wParam, lParam);
    return TRUE;  // nothing is refused
  }
  return ::DefWindowProcA(window, message, wParam, lParam);
}

// The window class, registered once per process.
bool RegisterMonitorClass() {
  static const bool registered = [] {
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &MonitorWindowProc;
    windowClass.hInstance = ::GetModuleHandleA(nullptr);
    windowClass.lpszClassName = kWindowClass;
    return ::RegisterClassExA(&windowClass) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
  }();
  return registered;
}

// The monitor's hidden window. A top-level window (never shown), as the
// port notices the system broadcasts reach top-level windows only; where
// no top-level window can be made (a session without a desktop), a
// message-only window, which still gets the registered device-interface
// notices.
HWND CreateMonitorWindow(WindowsDeviceMonitor* monitor) {
  const HINSTANCE instance = ::GetModuleHandleA(nullptr);
  HWND window = ::CreateWindowExA(WS_EX_TOOLWINDOW, kWindowClass, "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                  instance, monitor);
  if (!window) window = ::CreateWindowExA(0, kWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, monitor);
  return window;
}

// The NUL-ended name at 'offset' of a record of 'size' bytes, read no
// further than the record reaches.
std::string NameInRecord(const char* record, DWORD size, size_t offset) {
  if (size <= offset) return {};
  const char* name = record + offset;
  return std::string(name, ::strnlen(name, size - offset));
}

// Takes a monitor that could not be made down, keeping the system's error
// of the step that failed as the last error.
std::unique_ptr<WindowsDeviceMonitor> Failed(std::unique_ptr<WindowsDeviceMonitor> monitor) {
  const int code = static_cast<int>(::GetLastError());
  monitor.reset();
  SetLastError(code);
  return nullptr;
}

}  // namespace

std::unique_ptr<DeviceMonitor> DeviceMonitor::CreateForSystem(const std::string&, const std::string&) {
  return WindowsDeviceMonitor::Create();
}

std::unique_ptr<WindowsDeviceMonitor> WindowsDeviceMonitor::Create() {
  std::unique_ptr<WindowsDeviceMonitor> monitor(new WindowsDeviceMonitor());
  if (!RegisterMonitorClass()) {
    SetLastError(static_cast<int>(::GetLastError()));
    return nullptr;
  }
  monitor->window_ = CreateMonitorWindow(monitor.get());
  if (!monitor->window_) return Failed(std::move(monitor));
  DEV_BROADCAST_DEVICEINTERFACE_A filter{};
  filter.dbcc_size = sizeof filter;
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  filter.dbcc_classguid = kUsbDeviceInterface;
  monitor->registration_ = ::RegisterDeviceNotificationA(monitor->window_, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
  if (!monitor->registration_) return Failed(std::move(monitor));
  return monitor;
}

WindowsDeviceMonitor::~WindowsDeviceMonitor() {
  if (registration_) ::UnregisterDeviceNotification(registration_);
  if (window_) {
    // The window procedure no longer reaches this object, even if the
    // window outlives it (destroyed on another thread than its own fails).
    ::SetWindowLongPtrA(window_, GWLP_USERDATA, 0);
    ::DestroyWindow(window_);
  }
}

bool WindowsDeviceMonitor::TakeMessage(const void* message) {
  const auto* msg = static_cast<const MSG*>(message);
  if (!msg || !window_ || msg->hwnd != window_ || msg->message != kWakeMessage) return false;
  wakePosted_ = false;
  return true;
}

std::optional<DeviceNotice> WindowsDeviceMonitor::Next() {
  if (pending_.empty()) return std::nullopt;
  DeviceNotice notice = std::move(pending_.front());
  pending_.pop_front();
  return notice;
}

void WindowsDeviceMonitor::TakeDeviceChange(WPARAM event, LPARAM record) {
  DeviceNotice notice;
  if (event == DBT_DEVICEARRIVAL)
    notice.kind = DeviceNotice::Kind::Arrival;
  else if (event == DBT_DEVICEREMOVECOMPLETE)
    notice.kind = DeviceNotice::Kind::Removal;
  else
    return;
  if (record == 0) return;
  const auto* bytes = reinterpret_cast<const char*>(record);
  const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(record);
  if (header->dbch_devicetype == DBT_DEVTYP_PORT) {
    notice.type = DeviceNotice::Type::Port;
    notice.name = NameInRecord(bytes, header->dbch_size, offsetof(DEV_BROADCAST_PORT_A, dbcp_name));
  } else if (header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE) {
    notice.type = DeviceNotice::Type::DeviceInterface;
    notice.name = NameInRecord(bytes, header->dbch_size, offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name));
  } else {
    return;
  }
  pending_.push_back(std::move(notice));
  if (!wakePosted_) wakePosted_ = ::PostMessageA(window_, kWakeMessage, 0, 0) != 0;
}

}  // namespace platform
