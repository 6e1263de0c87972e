#include "framework/MethodTable.h"

#include <list>
#include <mutex>

#include "framework/Exception.h"

namespace {

// Registration happens mostly during static initialisation, look-ups later
// on any thread; one lock guards both tables.
std::mutex& RegistryLock() {
  static std::mutex lock;
  return lock;
}

// By meta-type id. A std::list keeps each element's address for the life
// of the process, so EventType can hand out pointers.
std::list<TEventTypeInfo>& EventTypes() {
  static std::list<TEventTypeInfo> types;
  return types;
}

}  // namespace

void TMethodTable::AddEventType(const TEventTypeInfo& info) {
  std::lock_guard guard(RegistryLock());
  for (const TEventTypeInfo& known : EventTypes())
    if (known.Type == info.Type) return;
  EventTypes().push_back(info);
}

const TEventTypeInfo* TMethodTable::EventType(QMetaType type) {
  static const bool notifyKnown = RegisterEventType<TNotifyEvent>();
  (void)notifyKnown;
  if (!type.isValid()) return nullptr;
  std::lock_guard guard(RegistryLock());
  for (const TEventTypeInfo& known : EventTypes())
    if (known.Type == type) return &known;
  return nullptr;
}

QList<TMethodTable::Entry>& TMethodTable::Entries() {
  static QList<Entry> entries;
  return entries;
}

void TMethodTable::Add(Entry entry) {
  std::lock_guard guard(RegistryLock());
  for (Entry& existing : Entries()) {
    if (existing.Class == entry.Class && existing.Name == entry.Name) {
      existing = std::move(entry);
      return;
    }
  }
  Entries().append(std::move(entry));
}

bool TMethodTable::FindPublished(const QObject* owner, const std::function<bool(const Entry&)>& match, Entry& found) {
  if (owner == nullptr) return false;
  std::lock_guard guard(RegistryLock());
  for (const QMetaObject* meta = owner->metaObject(); meta != nullptr; meta = meta->superClass()) {
    for (const Entry& entry : Entries()) {
      if (entry.Class == meta && match(entry)) {
        found = entry;
        return true;
      }
    }
  }
  return false;
}

QVariant TMethodTable::Bind(QObject* owner, const QString& name, QMetaType type) {
  if (owner == nullptr) throw Exception("Handler " + name.toStdString() + " needs an owner to bind to");
  Entry entry;
  if (!FindPublished(
          owner, [&](const Entry& e) { return e.Name == name; }, entry))
    throw Exception("Handler " + name.toStdString() + " is not a published method of " +
                    owner->metaObject()->className());
  if (entry.EventType != type)
    throw Exception("Handler " + name.toStdString() + " of " + owner->metaObject()->className() + " has the type " +
                    entry.EventType.name() + ", not " + (type.isValid() ? type.name() : "a handler type"));
  return entry.Bind(owner);
}

QString TMethodTable::NameOf(const QObject* owner, const QVariant& handler) {
  const TEventTypeInfo* info = EventType(handler.metaType());
  if (info == nullptr || owner == nullptr || !info->Assigned(handler)) return {};
  const TMethodCode code = info->Code(handler);
  const void* data = info->Data(handler);
  const QMetaType type = handler.metaType();
  Entry entry;
  const bool found = FindPublished(
      owner, [&](const Entry& e) { return e.EventType == type && e.Code == code && e.Identity(owner) == data; }, entry);
  return found ? entry.Name : QString();
}
