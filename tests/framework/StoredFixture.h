// A small component, its nested group and an owner that publishes handlers,
// for the stored-description tests.
#pragma once

#include <QObject>
#include <QString>

#include "framework/Component.h"
#include "framework/Event.h"
#include "framework/MethodTable.h"
#include "framework/Persistent.h"

namespace stored_fixture {
Q_NAMESPACE
enum TSpeed : int { spDefault, spSlow, spFast };
Q_ENUM_NS(TSpeed)
enum TMode { moEcho = 0x1, moTrace = 0x2, moLoud = 0x4 };
Q_DECLARE_FLAGS(TModes, TMode)
Q_FLAG_NS(TModes)
}  // namespace stored_fixture
using namespace stored_fixture;

using TCountEvent = TEvent<void(TObject* Sender, int& Count)>;
DECLARE_EVENT_TYPE(TCountEvent)

class TGauge : public TPersistent {
  Q_OBJECT
  Q_PROPERTY(int Limit MEMBER Limit)
  Q_PROPERTY(quint16 Span MEMBER Span)
  Q_CLASSINFO("Default:Limit", "10")
  Q_CLASSINFO("Default:Span", "0")

 public:
  using TPersistent::TPersistent;
  int Limit = 10;
  quint16 Span = 0;
};

class TOtherGroup : public TPersistent {
  Q_OBJECT
};

class TTestDevice : public TComponent {
  Q_OBJECT
  Q_PROPERTY(QString About READ About WRITE SetAbout STORED false)
  Q_PROPERTY(bool Active MEMBER Active)
  Q_PROPERTY(QString Title READ Title WRITE SetTitle)
  Q_PROPERTY(stored_fixture::TSpeed Speed MEMBER Speed)
  Q_PROPERTY(int Custom MEMBER Custom)
  Q_PROPERTY(stored_fixture::TModes Modes MEMBER Modes)
  Q_PROPERTY(int Count MEMBER Count)
  Q_PROPERTY(TGauge* Gauge READ Gauge)
  Q_PROPERTY(TTestDevice* Partner MEMBER Partner)
  Q_PROPERTY(TNotifyEvent OnChange MEMBER OnChange)
  Q_PROPERTY(TCountEvent OnCount MEMBER OnCount)
  Q_CLASSINFO("Default:Speed", "spDefault")
  Q_CLASSINFO("Default:Count", "0")
  Q_CLASSINFO("Stored:Custom", "StoreCustom")

 public:
  explicit TTestDevice(QObject* owner = nullptr) : TComponent(owner), gauge_(new TGauge(this)) {}

  QString About() const { return QStringLiteral("Test device 1.0"); }
  void SetAbout(const QString&) {}
  QString Title() const { return title_; }
  void SetTitle(const QString& title) {
    title_ = title;
    titleSetWhileLoading = Loading();
  }
  TGauge* Gauge() const { return gauge_; }
  Q_INVOKABLE bool StoreCustom() const { return Speed == spFast; }

  void Loaded() override {
    TComponent::Loaded();
    ++loadedCalls;
    partnerTitleAtLoaded = Partner != nullptr ? Partner->Title() : QString();
  }

  bool Active = false;
  TSpeed Speed = spDefault;
  int Custom = 0;
  TModes Modes;
  int Count = 0;
  TTestDevice* Partner = nullptr;
  TNotifyEvent OnChange;
  TCountEvent OnCount;

  bool titleSetWhileLoading = false;
  int loadedCalls = 0;
  QString partnerTitleAtLoaded;

 private:
  QString title_;
  TGauge* gauge_;
};

class TTestForm : public QObject {
  Q_OBJECT

 public:
  void DeviceChange(TObject*) {}
  void DeviceCount(TObject*, int& count) { ++count; }
  void NotPublished(TObject*) {}
};
