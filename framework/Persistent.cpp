#include "framework/Persistent.h"

#include <QMetaObject>

#include "framework/Exception.h"

bool IsPersistentProperty(const QMetaProperty& property) {
  const QMetaType type = property.metaType();
  if (!type.flags().testFlag(QMetaType::PointerToQObject)) return false;
  const QMetaObject* meta = type.metaObject();
  return meta != nullptr && meta->inherits(&TPersistent::staticMetaObject);
}

void TPersistent::Assign(const TPersistent& source) {
  if (&source == this) return;
  const QMetaObject* meta = metaObject();
  if (source.metaObject() != meta)
    throw Exception(std::string("Cannot assign a ") + source.metaObject()->className() + " to a " + meta->className());
  for (int i = QObject::staticMetaObject.propertyCount(); i < meta->propertyCount(); ++i) {
    const QMetaProperty property = meta->property(i);
    if (!property.isReadable() || !property.isStored()) continue;
    if (IsPersistentProperty(property)) {
      // A nested group is copied into the group this one already owns.
      auto* own = qobject_cast<TPersistent*>(property.read(this).value<QObject*>());
      auto* other = qobject_cast<TPersistent*>(property.read(&source).value<QObject*>());
      if (own != nullptr && other != nullptr) own->Assign(*other);
    } else if (property.isWritable()) {
      property.write(this, property.read(&source));
    }
  }
}
