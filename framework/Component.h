// TComponent: a QObject with an owner (the QObject parent, which destroys
// what it owns), a name (objectName), the design-time, loading and
// destroying states, Loaded() after a stored description has been read,
// and Notification() when a component of the same owner goes away.
#pragma once

#include <QObject>

enum class TComponentStateFlag : unsigned { csLoading = 0x1, csDesigning = 0x2, csDestroying = 0x4 };
inline constexpr TComponentStateFlag csLoading = TComponentStateFlag::csLoading;
inline constexpr TComponentStateFlag csDesigning = TComponentStateFlag::csDesigning;
// The owner is being destroyed and this component goes with it next. The
// owner's own members are gone by then (Qt destroys children last), so a
// component in this state must not call handlers, which are normally
// methods of the owner.
inline constexpr TComponentStateFlag csDestroying = TComponentStateFlag::csDestroying;

enum TOperation { opInsert, opRemove };

class TComponent : public QObject {
  Q_OBJECT
  Q_PROPERTY(QString Name READ Name WRITE SetName STORED false)

 public:
  // The owner may be any QObject (a form is a widget); it destroys the
  // component, which enters csDestroying as the owner begins to go. A null
  // owner leaves the lifetime to the caller.
  explicit TComponent(QObject* owner = nullptr);
  ~TComponent() override;

  QObject* Owner() const { return parent(); }
  QString Name() const { return objectName(); }
  void SetName(const QString& name) { setObjectName(name); }

  bool InState(TComponentStateFlag flag) const { return (state_ & static_cast<unsigned>(flag)) != 0; }
  bool Designing() const { return InState(csDesigning); }
  bool Loading() const { return InState(csLoading); }
  bool Destroying() const { return InState(csDestroying); }

  // A design-time instance lives in a form designer and never touches a device.
  void SetDesigning(bool designing) { SetState(csDesigning, designing); }
  // Entered by the stored-description reader before it reads the properties.
  void BeginLoading() { SetState(csLoading, true); }

  // Called once all stored properties have been read; ends the loading state.
  virtual void Loaded() { SetState(csLoading, false); }

  // Called on the owner (when it is a component) and on every component of
  // the same owner before 'component' goes away (opRemove).
  virtual void Notification(TComponent* component, TOperation operation);

  // The components owned by 'owner', in creation order.
  static QList<TComponent*> Components(const QObject* owner);

 private:
  void SetState(TComponentStateFlag flag, bool on) {
    on ? state_ |= static_cast<unsigned>(flag) : state_ &= ~static_cast<unsigned>(flag);
  }
  unsigned state_ = 0;
};
