#include "framework/Timer.h"

#include "framework/Guard.h"

TTimer::TTimer(QObject* owner) : TComponent(owner) {
  timer_.setTimerType(Qt::PreciseTimer);
  connect(&timer_, &QTimer::timeout, this, &TTimer::Fire);
}

TTimer::~TTimer() = default;

void TTimer::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  Update();
}

void TTimer::SetInterval(int milliseconds) {
  if (milliseconds < 0) milliseconds = 0;
  if (milliseconds == interval_) return;
  interval_ = milliseconds;
  timer_.stop();  // a new interval starts a new period
  Update();
}

void TTimer::SetOnTimer(TNotifyEvent handler) {
  onTimer_ = std::move(handler);
  Update();
}

void TTimer::Update() {
  const bool run = enabled_ && interval_ > 0 && onTimer_.Assigned();
  if (!run)
    timer_.stop();
  else if (!timer_.isActive())
    timer_.start(interval_);
}

void TTimer::Fire() {
  // A copy: the handler may reassign OnTimer or destroy this timer.
  const TNotifyEvent handler = onTimer_;
  Guarded([&] { handler(this); });
}
