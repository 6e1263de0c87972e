// Shared pieces of the indicator's tests: an indicator that shows its
// timer, a recorder of the port owner's handlers and of OnSignal, and the
// colours a widget shows.
#pragma once

#include <QColor>
#include <QPalette>
#include <QThread>
#include <QWidget>
#include <vector>

#include "comport/ComportTestSupport.h"
#include "comsignal/Comsignal.h"

namespace comsignaltest {

using namespace comporttest;

// The indicator with its timer in reach, to count its expiries.
class TestSignal : public TComSignal {
 public:
  using TComSignal::TComSignal;
  using TComSignal::Timer;

  // Every expiry of the timer is counted before the indicator sees it.
  void CountExpiries() {
    const TNotifyEvent own = Timer()->OnTimer();
    Timer()->SetOnTimer(TNotifyEvent::Bind([this, own](TObject* sender) {
      ++expiries;
      own(sender);
    }));
  }
  int expiries = 0;
};

// OnSignal's calls: the value and the thread of each.
struct SignalLog {
  std::vector<bool> values;
  std::vector<QThread*> threads;

  void Attach(TComSignal& indicator) {
    indicator.SetOnSignal(TNotifyEvent::Bind([this, &indicator](TObject* sender) {
      EXPECT_EQ(sender, &indicator);
      values.push_back(indicator.SignalValue());
      threads.push_back(QThread::currentThread());
    }));
  }
};

// The background colour a widget shows.
inline QColor Background(const QWidget& widget) { return widget.palette().color(QPalette::Window); }

}  // namespace comsignaltest
