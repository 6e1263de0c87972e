// A built /sys and /dev pair in a temporary folder, shaped like the kernel's:
// sys/class/tty/<name> links to sys/devices/<path>/tty/<name>, whose
// `device` link leads to the port's device with `driver` and `subsystem`
// links into sys/bus; USB devices carry idVendor and product; dev/pts holds
// pseudo-terminal slaves. Beside them, a process tree (proc/<pid> with comm
// and fd/ links to open files) and a group database (etc/group). Removed
// with everything in it when destroyed.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <string>
#include <vector>

class FakeTree {
 public:
  FakeTree() {
    std::string pattern = (std::filesystem::temp_directory_path() / "porttree-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "cannot create a temporary folder";
    root_ = std::filesystem::canonical(pattern);
    std::filesystem::create_directories(sys() / "class" / "tty");
    std::filesystem::create_directories(sys() / "devices");
    std::filesystem::create_directories(dev() / "pts");
  }
  ~FakeTree() {
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }
  FakeTree(const FakeTree&) = delete;
  FakeTree& operator=(const FakeTree&) = delete;

  std::filesystem::path root() const { return root_; }
  std::filesystem::path sys() const { return root_ / "sys"; }
  std::filesystem::path dev() const { return root_ / "dev"; }
  std::string Sys() const { return sys().string(); }
  std::string Dev() const { return dev().string(); }

  // A file with its folders.
  void File(const std::filesystem::path& path, const std::string& content = "") {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path) << content;
  }

  // A link at 'path' (folders created) pointing at 'target' as given.
  void Link(const std::filesystem::path& path, const std::filesystem::path& target) {
    std::filesystem::create_directories(path.parent_path());
    std::filesystem::create_directory_symlink(target, path);
  }

  // A USB device at sys/devices/<path> with its vendor and optional product.
  void UsbDevice(const std::string& path, const std::optional<std::string>& product) {
    File(sys() / "devices" / path / "idVendor", "0403\n");
    if (product) File(sys() / "devices" / path / "product", *product + "\n");
  }

  // A tty class entry for the device at sys/devices/<devicePath>; the device
  // joins sys/bus/<bus> (none when empty) and binds to 'driver' (none when
  // empty). Gives the class entry's folder, for attributes such as `type`.
  std::filesystem::path Tty(const std::string& name, const std::string& devicePath,
                            const std::string& bus, const std::string& driver) {
    const auto device = sys() / "devices" / devicePath;
    const auto entry = device / "tty" / name;
    std::filesystem::create_directories(entry);
    Link(sys() / "class" / "tty" / name,
         std::filesystem::path("../../devices") / devicePath / "tty" / name);
    Link(entry / "device", "../..");
    if (!bus.empty()) {
      std::filesystem::create_directories(sys() / "bus" / bus / "drivers");
      Link(device / "subsystem", sys() / "bus" / bus);
      if (!driver.empty()) {
        std::filesystem::create_directories(sys() / "bus" / bus / "drivers" / driver);
        Link(device / "driver", sys() / "bus" / bus / "drivers" / driver);
      }
    }
    return entry;
  }

  // A built-in UART at platform/serial8250 with the given `type` attribute.
  void Uart(const std::string& name, int type) {
    File(Tty(name, "platform/serial8250/" + name, "platform", "serial8250") / "type",
         std::to_string(type) + "\n");
  }

  // A USB serial converter on port 'usbPort' of the first root hub, bound to
  // 'driver' on the usb-serial bus.
  void UsbSerial(const std::string& name, const std::string& usbPort, const std::string& driver,
                 const std::optional<std::string>& product) {
    const std::string usb = "pci0000:00/0000:00:14.0/usb1/" + usbPort;
    UsbDevice("pci0000:00/0000:00:14.0/usb1", "xHCI Host Controller");
    UsbDevice(usb, product);
    Tty(name, usb + "/" + usbPort + ":1.0/" + name, "usb-serial", driver);
  }

  // A CDC-ACM device on port 'usbPort': the tty hangs off the USB interface.
  void Acm(const std::string& name, const std::string& usbPort,
           const std::optional<std::string>& product) {
    const std::string usb = "pci0000:00/0000:00:14.0/usb1/" + usbPort;
    UsbDevice("pci0000:00/0000:00:14.0/usb1", "xHCI Host Controller");
    UsbDevice(usb, product);
    Tty(name, usb + "/" + usbPort + ":1.0", "usb", "cdc_acm");
  }

  // A pseudo-terminal slave dev/pts/<n>.
  void Pts(int n) { File(dev() / "pts" / std::to_string(n)); }

  // A device node (S_IFCHR or S_IFBLK) at 'path', never opened. A character
  // node falls back to number 0:0, which needs no privilege; false when the
  // node could not be made (a block node without privilege).
  bool Node(const std::filesystem::path& path, mode_t type) {
    std::filesystem::create_directories(path.parent_path());
    const std::string p = path.string();
    if (::mknod(p.c_str(), type | 0600, makedev(1, 3)) == 0) return true;
    return type == S_IFCHR && ::mknod(p.c_str(), type | 0600, makedev(0, 0)) == 0;
  }

  // The built process tree and group database.
  std::filesystem::path proc() const { return root_ / "proc"; }
  std::string Proc() const { return proc().string(); }
  std::string GroupFile() const { return (root_ / "etc" / "group").string(); }

  // A process proc/<pid> running 'program' with 'files' open (fd/0, fd/1...
  // link to them).
  void Process(int pid, const std::string& program, const std::vector<std::filesystem::path>& files) {
    const auto folder = proc() / std::to_string(pid);
    File(folder / "comm", program + "\n");
    std::filesystem::create_directories(folder / "fd");
    for (std::size_t i = 0; i < files.size(); ++i) Link(folder / "fd" / std::to_string(i), files[i]);
  }
  // A process of another user: its open files cannot be listed. Root may
  // list any folder, so a file stands where the fd folder would be.
  void HiddenProcess(int pid, const std::string& program) {
    const auto folder = proc() / std::to_string(pid);
    File(folder / "comm", program + "\n");
    File(folder / "fd");
  }

  // A line "name:x:id:members" added to the group database.
  void Group(const std::string& name, unsigned id, const std::string& members) {
    std::filesystem::create_directories(root_ / "etc");
    std::ofstream(GroupFile(), std::ios::app) << name << ":x:" << id << ":" << members << "\n";
  }

  // The entries of 'folder' that are among 'names', in the order the file
  // system lists them (what a list "in system order" must follow).
  static std::vector<std::string> InDirectoryOrder(const std::filesystem::path& folder,
                                                   const std::set<std::string>& names) {
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
      if (names.count(entry.path().filename().string()) != 0)
        found.push_back(entry.path().filename().string());
    return found;
  }

 private:
  std::filesystem::path root_;
};
