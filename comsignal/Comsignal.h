// TComSignal: the signal indicator component, so far its published
// settings only. It is attached to no port and no control here: it hooks
// no event and colours nothing. The window restores it from its stored
// description.
#pragma once

#include <QObject>

#include "framework/Component.h"

namespace ComSignalTypes {
Q_NAMESPACE

// The line signal shown, in this order (ordinals from 0).
enum TSignal {
  siNone,
  siBreak,
  siRxChar,
  siTxChar,
  siCTS,
  siDSR,
  siEvent1,
  siEvent2,
  siLineError,
  siPrinterError,
  siRing,
  siRLSD,
  siRx80PercFull,
  siRxFlag,
  siTxEmpty
};
Q_ENUM_NS(TSignal)

}  // namespace ComSignalTypes

using ComSignalTypes::TSignal;
using enum ComSignalTypes::TSignal;

class TComSignal : public TComponent {
  Q_OBJECT
  // Both are always stored (no declared default).
  Q_PROPERTY(qint32 Delay READ Delay WRITE SetDelay)
  Q_PROPERTY(ComSignalTypes::TSignal Signal READ Signal WRITE SetSignal)

 public:
  explicit TComSignal(QObject* owner = nullptr) : TComponent(owner) {}

  // Milliseconds a pulse signal stays lit.
  qint32 Delay() const { return FDelay; }
  void SetDelay(qint32 value) { FDelay = value; }
  TSignal Signal() const { return FSignal; }
  void SetSignal(TSignal value) { FSignal = value; }

 private:
  qint32 FDelay = 100;
  TSignal FSignal = siNone;
};
