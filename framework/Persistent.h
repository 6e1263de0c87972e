// TPersistent: a group of published properties that a component owns and
// exposes as a Q_PROPERTY of pointer type (a port's FlowControl, Timeouts,
// ...). Stored descriptions read and write such a group as nested
// properties ("FlowControl.XOnLimit = 10"); Assign copies one group's
// values into another of the same class.
//
// Storing rules, for component and group authors alike. A published
// property is a Q_PROPERTY that is readable; it is written to a stored
// description when
//   - it is writable (a pointer to a TPersistent group needs only READ: its
//     own properties are written as a nested group),
//   - its STORED attribute is true (the Qt default; STORED false never
//     writes it),
//   - a condition named with Q_CLASSINFO("Stored:<Property>", "<Method>")
//     returns true when there is one; <Method> is a Q_INVOKABLE
//     `bool <Method>() const` of the class (Qt 6 accepts no function for
//     STORED, so conditions are declared this way),
//   - and its value differs from the default declared with
//     Q_CLASSINFO("Default:<Property>", "<value>"), where <value> is written
//     as in a stored description: an enumeration member (brDefault), a set
//     ([] or [opA, opB]), an integer (4096), True or False, or a quoted
//     string ('COM1'). A property without a declared default is always
//     written. Class information is inherited, so a subclass may repeat a
//     declaration to change a default.
// Handlers (TEvent properties) are written only when bound to the owner
// with a published method (framework/MethodTable.h); component references
// only when assigned.
#pragma once

#include <QMetaProperty>
#include <QObject>

class TPersistent : public QObject {
  Q_OBJECT

 public:
  explicit TPersistent(QObject* parent = nullptr) : QObject(parent) {}

  // Copies the value of every writable, stored property of 'source' into
  // this group through its setter, in declaration order; nested groups are
  // assigned in turn. Only values are copied: this group never takes
  // ownership of 'source' or of anything it points to. Raises Exception when
  // 'source' is not of this group's class.
  virtual void Assign(const TPersistent& source);
};

// Whether 'property' holds a nested group (a pointer to a TPersistent).
bool IsPersistentProperty(const QMetaProperty& property);
