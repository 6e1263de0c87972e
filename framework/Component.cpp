#include "framework/Component.h"

TComponent::TComponent(QObject* owner) : QObject(owner) {
  // Qt announces an object's end after its own destructors have run and
  // before it destroys its children.
  if (owner == nullptr) return;
  connect(
      owner, &QObject::destroyed, this, [this](QObject* gone) {
        if (gone == parent()) SetState(csDestroying, true);
      },
      Qt::DirectConnection);
}

TComponent::~TComponent() {
  // Tell the owner and the siblings before this component goes. The
  // QObject parent still lists this object here, so skip it.
  QObject* owner = parent();
  if (owner == nullptr) return;
  if (auto* ownerComponent = qobject_cast<TComponent*>(owner)) ownerComponent->Notification(this, opRemove);
  for (TComponent* sibling : Components(owner))
    if (sibling != this) sibling->Notification(this, opRemove);
}

void TComponent::Notification(TComponent*, TOperation) {}

QList<TComponent*> TComponent::Components(const QObject* owner) {
  QList<TComponent*> result;
  if (owner == nullptr) return result;
  for (QObject* child : owner->children())
    if (auto* c = qobject_cast<TComponent*>(child)) result.append(c);
  return result;
}
