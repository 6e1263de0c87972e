#include "platform/linux/LinuxDeviceMonitor.h"

#include <libudev.h>
#include <limits.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <filesystem>

#include "platform/DeviceTree.h"
#include "platform/LastError.h"
#include "platform/linux/SysfsPorts.h"

namespace platform {

namespace {

namespace fs = std::filesystem;

// udevd's control socket: present while udevd runs.
constexpr char kUdevControl[] = "/run/udev/control";
// Receives in a row that the kernel source may drop through the filter
// before Receive gives up for this wake (the descriptor stays readable).
constexpr int kMaxFilteredInARow = 64;
// What the inotify watches on <dev> and <dev>/pts report.
constexpr uint32_t kDevWatchMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ONLYDIR;
// epoll tags of the two sources.
constexpr uint32_t kInotifyTag = 0;
constexpr uint32_t kUdevTag = 1;

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

bool AllDigits(const std::string& text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

std::string Text(const char* value) { return value != nullptr ? value : std::string(); }

class LibudevSource final : public UdevEventSource {
 public:
  LibudevSource(udev* context, udev_monitor* monitor) : context_(context), monitor_(monitor) {}
  ~LibudevSource() override {
    udev_monitor_unref(monitor_);
    udev_unref(context_);
  }
  LibudevSource(const LibudevSource&) = delete;
  LibudevSource& operator=(const LibudevSource&) = delete;

  int Descriptor() const override { return udev_monitor_get_fd(monitor_); }

  std::optional<UdevEvent> Receive() override {
    for (int attempt = 0; attempt < kMaxFilteredInARow; ++attempt) {
      if (udev_device* device = udev_monitor_receive_device(monitor_)) {
        UdevEvent event{Text(udev_device_get_action(device)), Text(udev_device_get_subsystem(device)),
                        Text(udev_device_get_devtype(device)), Text(udev_device_get_devnode(device)),
                        Text(udev_device_get_syspath(device))};
        udev_device_unref(device);
        return event;
      }
      // Nothing came: either nothing is waiting or the filter dropped a
      // message and more may follow.
      pollfd ready{Descriptor(), POLLIN, 0};
      if (::poll(&ready, 1, 0) <= 0 || (ready.revents & POLLIN) == 0) return std::nullopt;
    }
    return std::nullopt;
  }

 private:
  udev* const context_;
  udev_monitor* const monitor_;
};

std::string BaseName(const std::string& path) { return fs::path(path).filename().string(); }

}  // namespace

bool LooksLikePortName(const std::string& name) {
  if (StartsWith(name, "rfcomm")) return true;
  return StartsWith(name, "tty") && name.size() > 3 && !AllDigits(name.substr(3));
}

std::unique_ptr<UdevEventSource> OpenUdevEventSource() {
  udev* context = udev_new();
  if (context == nullptr) {
    SetLastError(errno != 0 ? errno : ENOMEM);
    return nullptr;
  }
  const char* source = ::access(kUdevControl, F_OK) == 0 ? "udev" : "kernel";
  udev_monitor* monitor = udev_monitor_new_from_netlink(context, source);
  if (monitor == nullptr || udev_monitor_filter_add_match_subsystem_devtype(monitor, "usb", "usb_device") < 0 ||
      udev_monitor_filter_add_match_subsystem_devtype(monitor, "tty", nullptr) < 0 ||
      udev_monitor_enable_receiving(monitor) < 0) {
    const int code = errno != 0 ? errno : ENODEV;
    if (monitor != nullptr) udev_monitor_unref(monitor);
    udev_unref(context);
    SetLastError(code);
    return nullptr;
  }
  return std::make_unique<LibudevSource>(context, monitor);
}

std::unique_ptr<DeviceMonitor> DeviceMonitor::CreateForSystem(const std::string& devRoot, const std::string& sysRoot) {
  return LinuxDeviceMonitor::CreateWithSystemUdev(devRoot, sysRoot);
}

std::unique_ptr<LinuxDeviceMonitor> LinuxDeviceMonitor::CreateWithSystemUdev(const std::string& devRoot, const std::string& sysRoot) {
  // Without udev the links and nodes in <dev> are still seen.
  return Create(devRoot, OpenUdevEventSource(), sysRoot);
}

std::unique_ptr<LinuxDeviceMonitor> LinuxDeviceMonitor::Create(const std::string& devRoot,
                                                     std::unique_ptr<UdevEventSource> udev,
                                                     const std::string& sysRoot) {
  std::error_code ec;
  const fs::path root = fs::canonical(devRoot, ec);
  if (ec) {
    SetLastError(ec.value());
    return nullptr;
  }
  const int epoll = ::epoll_create1(EPOLL_CLOEXEC);
  const int inotify = epoll >= 0 ? ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC) : -1;
  const int watch = inotify >= 0 ? ::inotify_add_watch(inotify, root.c_str(), kDevWatchMask) : -1;
  const auto add = [epoll](int fd, uint32_t tag) {
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u32 = tag;
    return ::epoll_ctl(epoll, EPOLL_CTL_ADD, fd, &event) == 0;
  };
  if (watch < 0 || !add(inotify, kInotifyTag) || (udev && !add(udev->Descriptor(), kUdevTag))) {
    const int code = errno;
    if (inotify >= 0) ::close(inotify);
    if (epoll >= 0) ::close(epoll);
    SetLastError(code);
    return nullptr;
  }
  // Where links to pseudo-terminals lead: without it such a link is still
  // looked at whenever <dev> or udev reports a change.
  const int ptsWatch = ::inotify_add_watch(inotify, (root / "pts").c_str(), kDevWatchMask);
  return std::unique_ptr<LinuxDeviceMonitor>(
      new LinuxDeviceMonitor(sysRoot, root, epoll, inotify, watch, ptsWatch, std::move(udev)));
}

LinuxDeviceMonitor::LinuxDeviceMonitor(std::string sysRoot, fs::path devRoot, int epoll, int inotify, int watch,
                             int ptsWatch, std::unique_ptr<UdevEventSource> udev)
    : sysRoot_(std::move(sysRoot)),
      devRoot_(std::move(devRoot)),
      epoll_(epoll),
      inotify_(inotify),
      watch_(watch),
      ptsWatch_(ptsWatch),
      udev_(std::move(udev)) {
  devtree::ForEachEntry(devRoot_, [&](const fs::directory_entry& e) { Evaluate(e.path().filename().string()); });
  pending_.clear();  // what is there from the start is present, not arriving
}

LinuxDeviceMonitor::~LinuxDeviceMonitor() {
  ::close(inotify_);
  ::close(epoll_);
}

std::optional<DeviceNotice> LinuxDeviceMonitor::Next() {
  if (pending_.empty()) {
    ReadInotify();
    ReadUdev();
  }
  if (pending_.empty()) return std::nullopt;
  DeviceNotice notice = std::move(pending_.front());
  pending_.pop_front();
  return notice;
}

void LinuxDeviceMonitor::ReadInotify() {
  alignas(inotify_event) char buffer[16 * (sizeof(inotify_event) + NAME_MAX + 1)];
  for (;;) {
    const ssize_t length = ::read(inotify_, buffer, sizeof buffer);
    if (length < 0 && errno == EINTR) continue;
    if (length <= 0) return;  // drained (EAGAIN), or nothing more to read
    for (ssize_t offset = 0; offset < length;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
      offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      if ((event->mask & IN_Q_OVERFLOW) != 0) {
        Rescan();
        continue;
      }
      if (event->len == 0 || (event->wd != watch_ && event->wd != ptsWatch_)) continue;
      if (event->wd == watch_) Evaluate(event->name);
      RecheckLinks();
    }
  }
}

void LinuxDeviceMonitor::ReadUdev() {
  if (!udev_) return;
  while (auto event = udev_->Receive()) {
    Translate(*event);
    RecheckLinks();
  }
}

void LinuxDeviceMonitor::Translate(const UdevEvent& event) {
  const bool added = event.action == "add";
  const bool removed = event.action == "remove";
  if (!added && !removed) return;
  if (event.subsystem == "tty") {
    const std::string name = BaseName(!event.devname.empty() ? event.devname : event.syspath);
    if (!LooksLikePortName(name)) return;
    if (added) PortArrived(name, (devRoot_ / name).string());
    if (removed) PortRemoved(name);
  } else if (event.subsystem == "usb" && event.devtype == "usb_device") {
    const std::string& path = !event.syspath.empty() ? event.syspath : event.devname;
    if (path.empty()) return;
    pending_.push_back({added ? DeviceNotice::Kind::Arrival : DeviceNotice::Kind::Removal,
                        DeviceNotice::Type::DeviceInterface, path});
  }
}

void LinuxDeviceMonitor::Evaluate(const std::string& name) {
  std::error_code ec;
  if (fs::is_symlink(fs::symlink_status(devRoot_ / name, ec)))
    links_.insert(name);
  else
    links_.erase(name);
  const auto port = PortOfDevEntry(sysRoot_, devRoot_, name);
  const auto known = present_.find(name);
  // A name that now leads to another port: the old one went, a new one came.
  if (known != present_.end() && (!port || known->second != port->node.string())) PortRemoved(name);
  if (port) PortArrived(name, port->node.string());
}

void LinuxDeviceMonitor::RecheckLinks() {
  const std::set<std::string> links = links_;  // Evaluate edits the set
  for (const auto& name : links) Evaluate(name);
}

void LinuxDeviceMonitor::Rescan() {
  std::set<std::string> names = links_;
  for (const auto& [name, node] : present_) names.insert(name);
  devtree::ForEachEntry(devRoot_, [&](const fs::directory_entry& e) { names.insert(e.path().filename().string()); });
  for (const auto& name : names) Evaluate(name);
}

void LinuxDeviceMonitor::PortArrived(const std::string& name, const std::string& node) {
  if (!present_.emplace(name, node).second) return;  // already reported by the other source
  pending_.push_back({DeviceNotice::Kind::Arrival, DeviceNotice::Type::Port, name});
}

std::set<std::string> LinuxDeviceMonitor::PresentPorts() const {
  std::set<std::string> names;
  for (const auto& [name, node] : present_) names.insert(name);
  return names;
}

void LinuxDeviceMonitor::PortRemoved(const std::string& name) {
  if (present_.erase(name) == 0) return;  // never a port, or already reported
  pending_.push_back({DeviceNotice::Kind::Removal, DeviceNotice::Type::Port, name});
}

}  // namespace platform
