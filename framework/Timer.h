// TTimer: a component that calls OnTimer every Interval milliseconds while
// it is enabled. It runs while Enabled, Interval > 0 and OnTimer assigned.
// Setting Enabled or Interval to its current value changes nothing (a
// running timer keeps its deadline); a changed Interval restarts a running
// timer; an Interval of 0 never fires. OnTimer runs guarded.
#pragma once

#include <QTimer>

#include "framework/Component.h"
#include "framework/Event.h"

class TTimer : public TComponent {
  Q_OBJECT
  Q_PROPERTY(bool Enabled READ Enabled WRITE SetEnabled)
  Q_PROPERTY(int Interval READ Interval WRITE SetInterval)
  Q_PROPERTY(TNotifyEvent OnTimer READ OnTimer WRITE SetOnTimer)
  // Defaults (not stored when equal): Enabled true, Interval 1000.
  Q_CLASSINFO("Default:Enabled", "true")
  Q_CLASSINFO("Default:Interval", "1000")

 public:
  explicit TTimer(QObject* owner = nullptr);
  ~TTimer() override;

  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);

  int Interval() const { return interval_; }
  // A negative interval is taken as 0 (never fires).
  void SetInterval(int milliseconds);

  TNotifyEvent OnTimer() const { return onTimer_; }
  void SetOnTimer(TNotifyEvent handler);

  // True while the underlying timer runs.
  bool Running() const { return timer_.isActive(); }
  // Milliseconds to the next expiry; -1 while it does not run.
  int RemainingTime() const { return timer_.remainingTime(); }

 private:
  void Update();
  void Fire();

  bool enabled_ = true;
  int interval_ = 1000;
  TNotifyEvent onTimer_;
  QTimer timer_;
};
