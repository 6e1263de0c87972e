#include "platform/linux/SysfsPorts.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <filesystem>
#include <optional>
#include <string_view>

#include "platform/DeviceTree.h"

namespace platform {

namespace {

namespace fs = std::filesystem;
using devtree::ForEachEntry;
using devtree::ReadAttribute;
using devtree::UsbDeviceAbove;
using devtree::ResolveWithin;

// USB serial converter drivers, for trees that do not show the usb-serial bus.
constexpr std::array<std::string_view, 9> kUsbSerialDrivers = {
    "ftdi_sio", "cp210x", "pl2303", "ch341", "ch341-uart",
    "ark3116",  "cypress_m8", "mct_u232", "option1"};

// Drivers of built-in UARTs that do not show a serial-core `type` attribute.
constexpr std::array<std::string_view, 4> kUartDrivers = {"serial8250", "8250", "serial",
                                                          "8250_pnp"};

template <std::size_t N>
bool OneOf(const std::array<std::string_view, N>& names, const std::string& name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

bool StartsWith(const std::string& text, std::string_view prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

bool AllDigits(const std::string& text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

// Name of what a link points to ("ftdi_sio" for device/driver); empty when
// the link is absent.
std::string LinkTargetName(const fs::path& link) {
  std::error_code ec;
  const fs::path target = fs::read_symlink(link, ec);
  return ec ? std::string() : target.filename().string();
}

// A serial-core port whose `type` attribute reads 0 has no hardware behind it.
bool IsGhostUart(const fs::path& entry) {
  const auto type = ReadAttribute(entry / "type");
  if (!type) return false;
  int value = -1;
  const auto [end, error] = std::from_chars(type->data(), type->data() + type->size(), value);
  return error == std::errc() && end == type->data() + type->size() && value == 0;
}

// The `product` text of the USB device above 'device'. Nothing when there
// is no such device or it has no product text.
std::optional<std::string> UsbProduct(const fs::path& device, const fs::path& sysRoot) {
  const auto usb = UsbDeviceAbove(device, sysRoot);
  return usb ? ReadAttribute(*usb / "product") : std::nullopt;
}

std::string WithProduct(const std::string& kind, const std::optional<std::string>& product) {
  return product && !product->empty() ? kind + " (" + *product + ")" : kind;
}

// What a tty class entry is, in the words a user recognises.
std::string DescribeTty(const std::string& name, const fs::path& entry, const fs::path& sysRoot) {
  const fs::path device = entry / "device";
  const std::string driver = LinkTargetName(device / "driver");
  const std::string subsystem = LinkTargetName(device / "subsystem");
  std::error_code ec;
  const fs::path realDevice = fs::canonical(device, ec);

  if (StartsWith(name, "rfcomm")) return "Bluetooth Serial Port";
  if (subsystem == "usb-serial" || OneOf(kUsbSerialDrivers, driver))
    return WithProduct("USB Serial Port", ec ? std::nullopt : UsbProduct(realDevice, sysRoot));
  if (driver == "cdc_acm" || subsystem == "usb")
    return WithProduct("USB Serial Device", ec ? std::nullopt : UsbProduct(realDevice, sysRoot));
  if (fs::exists(entry / "type", ec) || OneOf(kUartDrivers, driver) || subsystem == "pnp")
    return "Communications Port";
  return {};
}

// A tty class entry is a present port when its device is bound to a driver
// and it is not a ghost UART; RFCOMM ports have no driver and are taken.
bool IsPresentPort(const std::string& name, const fs::path& entry) {
  if (StartsWith(name, "rfcomm")) return true;
  std::error_code ec;
  if (!fs::exists(entry / "device" / "driver", ec)) return false;
  return !IsGhostUart(entry);
}

std::vector<SerialPortEntry> ListSysfsPorts(const fs::path& sysRoot) {
  std::vector<SerialPortEntry> ports;
  ForEachEntry(sysRoot / "class" / "tty", [&](const fs::directory_entry& e) {
    const std::string name = e.path().filename().string();
    if (IsPresentPort(name, e.path()))
      ports.push_back({name, DescribeTty(name, e.path(), sysRoot)});
  });
  return ports;
}

// The tty class entry 'name' is there and a present port.
bool IsRegisteredPort(const fs::path& sysRoot, const std::string& name) {
  std::error_code ec;
  const fs::path entry = sysRoot / "class" / "tty" / name;
  return fs::exists(fs::symlink_status(entry, ec)) && IsPresentPort(name, entry);
}

// True for <devRoot>/pts/<number> and for <devRoot>/<a registered port>.
bool IsSerialNode(const fs::path& node, const fs::path& devRoot, const fs::path& sysRoot) {
  const fs::path rel = node.lexically_relative(devRoot);
  std::vector<std::string> parts;
  for (const auto& part : rel) parts.push_back(part.string());
  if (parts.size() == 2 && parts[0] == "pts") return AllDigits(parts[1]);
  return parts.size() == 1 && IsRegisteredPort(sysRoot, parts[0]);
}

std::vector<SerialPortEntry> ListVirtualPorts(const std::string& sysRoot, const fs::path& devRootGiven) {
  std::vector<SerialPortEntry> ports;
  std::error_code ec;
  const fs::path devRoot = fs::canonical(devRootGiven, ec);
  if (ec) return ports;
  ForEachEntry(devRoot, [&](const fs::directory_entry& e) {
    const std::string name = e.path().filename().string();
    const auto port = PortOfDevEntry(sysRoot, devRoot, name);
    if (port && !port->registered) ports.push_back({name, "Virtual Serial Port"});
  });
  return ports;
}

}  // namespace

std::vector<SerialPortEntry> ListRegisteredPorts(const std::string& sysRoot) {
  std::error_code ec;
  const fs::path sys = fs::canonical(sysRoot, ec);
  return ec ? std::vector<SerialPortEntry>() : ListSysfsPorts(sys);
}

std::vector<SerialPortEntry> ListPresentPorts(const std::string& sysRoot,
                                              const std::string& devRoot) {
  std::vector<SerialPortEntry> ports = ListRegisteredPorts(sysRoot);
  for (auto& port : ListVirtualPorts(sysRoot, devRoot)) ports.push_back(std::move(port));
  return ports;
}

std::optional<DevPort> PortOfDevEntry(const std::string& sysRoot, const fs::path& devRoot,
                                      const std::string& name) {
  if (name.empty() || name.front() == '.') return std::nullopt;
  const fs::path entry = devRoot / name;
  std::error_code ec;
  const fs::file_status own = fs::symlink_status(entry, ec);
  if (!fs::exists(own)) return std::nullopt;
  if (IsRegisteredPort(sysRoot, name)) return DevPort{true, entry};
  if (!fs::is_symlink(own)) return std::nullopt;
  auto node = ResolveWithin(entry, devRoot);
  if (!node || !IsSerialNode(*node, devRoot, sysRoot)) return std::nullopt;
  return DevPort{false, std::move(*node)};
}

}  // namespace platform
