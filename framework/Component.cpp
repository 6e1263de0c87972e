#include "framework/Component.h"

TComponent::TComponent(QObject* owner) : QObject(owner) {}

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
