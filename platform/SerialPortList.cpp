#include "platform/SerialPortList.h"

#include <algorithm>

namespace platform {

std::vector<SerialPortEntry> ListSerialPorts(const std::string& sysRoot, const std::string& devRoot) {
  std::vector<SerialPortEntry> ports = ListPresentPorts(sysRoot, devRoot);
  std::sort(ports.begin(), ports.end(),
            [](const SerialPortEntry& a, const SerialPortEntry& b) { return a.name < b.name; });
  return ports;
}

}  // namespace platform
