// Device-change messages as the system sends them to a window: a
// WM_DEVICECHANGE with an event code and a broadcast record of a port or a
// device interface, its name after the record's fixed part.
#pragma once

#include <windows.h>
#include <dbt.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

namespace windowstest {

// A broadcast record of 'type' (DBT_DEVTYP_PORT, DBT_DEVTYP_DEVICEINTERFACE
// or another) carrying 'name'.
inline std::vector<char> BroadcastRecord(DWORD type, const std::string& name) {
  size_t offset = sizeof(DEV_BROADCAST_HDR);
  if (type == DBT_DEVTYP_PORT) offset = offsetof(DEV_BROADCAST_PORT_A, dbcp_name);
  if (type == DBT_DEVTYP_DEVICEINTERFACE) offset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name);
  std::vector<char> record(offset + name.size() + 1, '\0');
  std::memcpy(record.data() + offset, name.c_str(), name.size() + 1);
  DEV_BROADCAST_HDR header{};
  header.dbch_size = static_cast<DWORD>(record.size());
  header.dbch_devicetype = type;
  std::memcpy(record.data(), &header, sizeof header);
  return record;
}

// Sends 'window' the device-change message 'event' about 'name'.
inline void SendDeviceChange(HWND window, WPARAM event, DWORD type, const std::string& name) {
  std::vector<char> record = BroadcastRecord(type, name);
  ::SendMessageA(window, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(record.data()));
}

// The device interface path of a USB device, as the system names it.
inline std::string UsbInterfacePath(const std::string& instance) {
  return "\\\\?\\USB#VID_0403&PID_6001#" + instance + "#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
}

}  // namespace windowstest
