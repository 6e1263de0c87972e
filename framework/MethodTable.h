// Handlers by method name. A class (typically a window) publishes the
// methods that stored descriptions may bind to its components' handler
// properties:
//
//   // in Mainform.cpp, at namespace scope
//   PUBLISH_HANDLER(TMajorForm, ComPort1RxChar);
//
// A handler bound by name is the same TEvent as the one bound in code with
// TEvent(form, &TMajorForm::ComPort1RxChar): same code, same object. The
// publishing class needs Q_OBJECT (published methods are found through the
// owner's class chain, most derived first) and the method must be
// accessible where the macro stands (public); it may have any handler
// signature. Handler properties are Q_PROPERTYs of TEvent types.
//
// Handler types are known to the stored-description writer once a method
// with that signature is published, or through RegisterEventType<T>() (or
// DECLARE_EVENT_TYPE(T) in place of Q_DECLARE_METATYPE(T) in a header).
// TNotifyEvent is always known.
#pragma once

#include <QList>
#include <QMetaObject>
#include <QMetaType>
#include <QString>
#include <QVariant>
#include <functional>
#include <type_traits>

#include "framework/Event.h"

// Type-erased access to a handler held in a QVariant.
struct TEventTypeInfo {
  QMetaType Type;
  bool (*Assigned)(const QVariant& handler) = nullptr;
  TMethodCode (*Code)(const QVariant& handler) = nullptr;
  const void* (*Data)(const QVariant& handler) = nullptr;
};

class TMethodTable {
 public:
  // Makes E (a TEvent type) known as a handler type. Returns true so that it
  // can initialise a static.
  template <class E>
  static bool RegisterEventType() {
    TEventTypeInfo info;
    info.Type = QMetaType::fromType<E>();
    info.Assigned = [](const QVariant& v) { return v.value<E>().Assigned(); };
    info.Code = [](const QVariant& v) { return v.value<E>().Code(); };
    info.Data = [](const QVariant& v) { return v.value<E>().Data(); };
    AddEventType(info);
    return true;
  }

  // The handler type registered for 'type', or null when 'type' is none.
  static const TEventTypeInfo* EventType(QMetaType type);

  // Publishes 'method' of class C under 'name' (use PUBLISH_HANDLER).
  template <class C, class M, class... Args>
  static bool Publish(const char* name, void (M::*method)(Args...)) {
    static_assert(QtPrivate::HasQ_OBJECT_Macro<C>::Value, "a class that publishes handlers needs Q_OBJECT");
    static_assert(std::is_base_of_v<M, C>, "the method must belong to the publishing class");
    using E = TEvent<void(Args...)>;
    RegisterEventType<E>();
    Entry entry;
    entry.Class = &C::staticMetaObject;
    entry.Name = QString::fromLatin1(name);
    entry.EventType = QMetaType::fromType<E>();
    entry.Code = TMethodCode::FromMember(method);
    entry.Identity = [](const QObject* owner) -> const void* { return dynamic_cast<const C*>(owner); };
    entry.Bind = [method](QObject* owner) { return QVariant::fromValue(E(dynamic_cast<C*>(owner), method)); };
    Add(std::move(entry));
    return true;
  }

  // The method that owner's class (or a base class) published as 'name',
  // bound to 'owner', as a handler of type 'type' in a QVariant. Raises
  // Exception when no such method is published or when its signature does
  // not match 'type'.
  static QVariant Bind(QObject* owner, const QString& name, QMetaType type);

  template <class E>
  static E Handler(QObject* owner, const QString& name) {
    return Bind(owner, name, QMetaType::fromType<E>()).template value<E>();
  }

  // The published name of 'handler' (a QVariant of a handler type) when it
  // is bound to 'owner' with a method that owner's class published; empty
  // otherwise.
  static QString NameOf(const QObject* owner, const QVariant& handler);

 private:
  struct Entry {
    const QMetaObject* Class = nullptr;
    QString Name;
    QMetaType EventType;
    TMethodCode Code;
    const void* (*Identity)(const QObject* owner) = nullptr;  // owner as the publishing class
    std::function<QVariant(QObject* owner)> Bind;
  };
  static QList<Entry>& Entries();
  static void Add(Entry entry);
  static void AddEventType(const TEventTypeInfo& info);
  // The entry that owner's class chain publishes and 'match' accepts, most
  // derived class first; false when there is none.
  static bool FindPublished(const QObject* owner, const std::function<bool(const Entry&)>& match, Entry& found);
};

#define FW_METHODTABLE_CONCAT2(a, b) a##b
#define FW_METHODTABLE_CONCAT(a, b) FW_METHODTABLE_CONCAT2(a, b)

// Publishes Class::Method under its own name; place at namespace scope in a
// source file.
#define PUBLISH_HANDLER(Class, Method)                                                       \
  [[maybe_unused]] static const bool FW_METHODTABLE_CONCAT(publishedHandler_, __COUNTER__) = \
      ::TMethodTable::Publish<Class>(#Method, &Class::Method)

// Declares a handler type to Qt's meta-type system and to stored
// descriptions; use in a header, at global scope, in place of
// Q_DECLARE_METATYPE.
#define DECLARE_EVENT_TYPE(Type)                                                         \
  Q_DECLARE_METATYPE(Type)                                                               \
  [[maybe_unused]] inline const bool FW_METHODTABLE_CONCAT(eventTypeRegistered_, Type) = \
      ::TMethodTable::RegisterEventType<Type>();
