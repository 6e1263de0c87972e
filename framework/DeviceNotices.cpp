#include "framework/DeviceNotices.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QPointer>
#include <QSocketNotifier>
#include <QThread>

#include <cerrno>
#include <map>
#include <utility>
#include <vector>

#include "framework/Guard.h"
#include "framework/Thread.h"
#include "platform/LastError.h"

namespace {

// The roots one monitor watches: the sysfs root that tells which nodes are
// registered ports, and the <dev> root.
using TRoots = std::pair<std::string, std::string>;

// One watched root: its monitor and the notifier on its descriptor (none
// for a monitor whose notices come through the message loop).
struct TWatch {
  std::unique_ptr<platform::DeviceMonitor> monitor;
  QPointer<QSocketNotifier> notifier;  // goes with the application object
};

void Deliver(const TRoots& root);

// Hands every native message of the user-interface thread's message loop
// to the monitors; one that says notices wait gets them delivered. The
// messages go on as usual.
class TDeviceMessageFilter final : public QAbstractNativeEventFilter {
 public:
  bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;
};

struct THookEntry {
  TRoots root;
  TDeviceNoticeHook hook;
};

// Touched only on the user-interface thread (an unregistration asked for
// elsewhere is handed over to it).
struct TDispatcher {
  std::map<TRoots, TWatch> watches;
  std::map<TDeviceNotifyHandle, THookEntry> hooks;  // handles grow: the map's order is registration order
  TDeviceNotifyHandle lastHandle = 0;
  TDeviceMonitorFactory factory;
};

// Installed while a root is watched. Never destroyed: its destructor would
// reach for an event dispatcher after the application has gone.
TDeviceMessageFilter& MessageFilter() {
  static auto* filter = new TDeviceMessageFilter;
  return *filter;
}

TDispatcher& Dispatcher() {
  static TDispatcher dispatcher;
  return dispatcher;
}

bool OnApplicationThread() {
  const QCoreApplication* app = QCoreApplication::instance();
  return app != nullptr && QThread::currentThread() == app->thread();
}

// Reads every notice waiting on the root's monitor, then hands each to the
// hooks of that root. Everything is looked up again per call: a hook may
// change the registrations, and the last one leaving closes the monitor.
void Deliver(const TRoots& root) {
  TDispatcher& d = Dispatcher();
  std::vector<TDeviceNotice> notices;
  if (auto watch = d.watches.find(root); watch != d.watches.end()) {
    while (auto notice = watch->second.monitor->Next()) notices.push_back(std::move(*notice));
  }
  for (const TDeviceNotice& notice : notices) {
    std::vector<TDeviceNotifyHandle> handles;
    for (const auto& [handle, entry] : d.hooks)
      if (entry.root == root) handles.push_back(handle);
    for (TDeviceNotifyHandle handle : handles) {
      auto entry = d.hooks.find(handle);
      if (entry == d.hooks.end()) continue;  // unregistered by an earlier hook
      // A copy: the hook may unregister itself while it runs.
      const TDeviceNoticeHook hook = entry->second.hook;
      Guarded([&] { hook(notice); });
    }
  }
}

bool TDeviceMessageFilter::nativeEventFilter(const QByteArray&, void* message, qintptr*) {
  // A hook may change the watches: they are looked up again per root.
  std::vector<TRoots> ready;
  for (const auto& [root, watch] : Dispatcher().watches)
    if (watch.monitor->TakeMessage(message)) ready.push_back(root);
  for (const TRoots& root : ready) Deliver(root);
  return false;
}

bool OpenWatch(const TRoots& root) {
  TDispatcher& d = Dispatcher();
  if (d.watches.count(root) != 0) return true;
  std::unique_ptr<platform::DeviceMonitor> monitor =
      d.factory ? d.factory(root.second, root.first) : platform::DeviceMonitor::CreateForSystem(root.second, root.first);
  if (!monitor) return false;
  QSocketNotifier* notifier = nullptr;
  if (monitor->Descriptor() >= 0) {
    notifier = new QSocketNotifier(monitor->Descriptor(), QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [root] { Deliver(root); });
  }
  d.watches.emplace(root, TWatch{std::move(monitor), notifier});
  QCoreApplication::instance()->installNativeEventFilter(&MessageFilter());  // again: nothing changes
  return true;
}

void CloseWatch(const TRoots& root) {
  TDispatcher& d = Dispatcher();
  auto watch = d.watches.find(root);
  if (watch == d.watches.end()) return;
  if (QSocketNotifier* notifier = watch->second.notifier) {
    // It may be the one whose signal runs now.
    notifier->setEnabled(false);
    notifier->deleteLater();
  }
  d.watches.erase(watch);
  if (d.watches.empty() && QCoreApplication::instance())
    QCoreApplication::instance()->removeNativeEventFilter(&MessageFilter());
}

// Removes a registration, on the user-interface thread (or with no
// application object left); the root's last hook closes its monitor.
bool Unregister(TDeviceNotifyHandle handle) {
  TDispatcher& d = Dispatcher();
  auto entry = d.hooks.find(handle);
  if (entry == d.hooks.end()) return false;
  const TRoots root = entry->second.root;
  d.hooks.erase(entry);
  for (const auto& [other, hook] : d.hooks)
    if (hook.root == root) return true;
  CloseWatch(root);
  return true;
}

}  // namespace

TDeviceNotifyHandle RegisterDeviceNotification(const QString& devRoot, TDeviceNoticeHook hook, const QString& sysRoot) {
  if (!hook || !OnApplicationThread()) {
    platform::SetLastError(platform::kErrorInvalidParameter);
    return 0;
  }
  // So that an unregistration on another thread can be handed over here.
  TThread::PrepareSynchronize();
  const TRoots root{sysRoot.toStdString(), devRoot.toStdString()};
  if (!OpenWatch(root)) return 0;
  TDispatcher& d = Dispatcher();
  const TDeviceNotifyHandle handle = ++d.lastHandle;
  d.hooks.emplace(handle, THookEntry{root, std::move(hook)});
  return handle;
}

bool UnregisterDeviceNotification(TDeviceNotifyHandle handle) {
  bool removed = false;
  RunWhereNoticesAreHandedOut([&] { removed = Unregister(handle); });
  return removed;
}

void RunWhereNoticesAreHandedOut(const std::function<void()>& fn) {
  bool ran = false;
  try {
    TThread::Synchronize([&] {
      ran = true;
      fn();
    });
  } catch (const EThread&) {
    if (ran) throw;  // fn's own
    // No application object is left to run it: nothing hands out notices.
    fn();
  }
}

int RegisteredDeviceHooks() { return static_cast<int>(Dispatcher().hooks.size()); }

void SetDeviceMonitorFactory(TDeviceMonitorFactory factory) { Dispatcher().factory = std::move(factory); }
