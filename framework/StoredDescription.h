// Stored descriptions: a readable text of components' published properties,
// from which an owner's non-visual components are restored.
//
//   object ComPort1: TComPort
//     Active = False
//     DeviceName = 'COM2'
//     BaudRate = br115200
//     Options = [opCheckParity, opAbortOnError]
//     FlowControl.XOnLimit = 10
//     ComPort = ComPort2
//     OnRxChar = ComPort1RxChar
//   end
//
// One "object Name: Class" ... "end" block per component; one property per
// line. Values: enumeration members by name, sets in brackets, integers,
// True and False, strings in single quotes ('' for a quote inside, #13 for a
// character by its code: 'one'#13#10'two'), component references and
// handlers by name (handlers are methods the owner's class published, see
// framework/MethodTable.h), nil for none. Nested groups (TPersistent
// properties) are written with dotted names. Lines starting with // are
// comments. Which properties are written: framework/Persistent.h.
#pragma once

#include <QMetaObject>
#include <QString>

#include "framework/Component.h"
#include "framework/Exception.h"

// A description that cannot be read; the message names the line.
class EReadError : public Exception {
 public:
  EReadError(int line, const std::string& message);
  int Line;
};

// A component whose properties cannot be written as a description (a value
// without a name, an unsupported property type, a bad declared default).
class EWriteError : public Exception {
 public:
  using Exception::Exception;
};

using TComponentConstructor = TComponent* (*)(QObject* owner);

// Makes a component class creatable by ReadComponents under its class name.
void RegisterComponentClass(const QMetaObject& meta, TComponentConstructor construct);

template <class T>
bool RegisterComponentClass() {
  RegisterComponentClass(T::staticMetaObject, [](QObject* owner) -> TComponent* { return new T(owner); });
  return true;
}

// One block for 'component'; handlers are named against its owner.
QString WriteComponent(const TComponent& component);

// The blocks of every component that 'owner' owns, in creation order.
QString WriteComponents(const QObject* owner);

// Reads a description of owner's components. Each block names a component
// of 'owner', which is found by name (it must be of the named class or
// derive from it) or, when there is none, created through the registered
// class. The whole description is checked before any property is set; every
// component is in the loading state while its properties are set, and once
// all are set, Loaded() runs on each, in the order of the description.
// Raises EReadError for a bad description; then nothing was changed and the
// components it created are gone.
void ReadComponents(QObject* owner, const QString& text);

// Reads a description with one block into 'component' (which takes the
// block's name), then calls its Loaded(). Handlers and references are
// resolved against the component's owner.
void ReadComponent(TComponent& component, const QString& text);
