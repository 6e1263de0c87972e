// TUpDown: an up-down spinner, two stacked arrow buttons that step a
// position between Min and Max by Increment, bound to a label that shows
// the position as decimal text. User actions (clicking an arrow half,
// holding it down, the Up and Down keys, the mouse wheel) fire OnChanging
// before the position moves, and only when it would actually move; the
// handler may veto the step. Setting Position from code fires nothing.
//
// Without Wrap the position stops at the ends; with Wrap a step past one
// end continues at the other. When Max is below Min the up arrow steps
// towards Max, so it counts down.
#pragma once

#include <QPointer>
#include <QTimer>
#include <QWidget>

#include "framework/Event.h"

#include <QLabel>

using TUDChangingEvent = TEvent<void(TObject* Sender, bool& AllowChange)>;

class TUpDown : public QWidget {
  Q_OBJECT
  Q_PROPERTY(int Min READ Min WRITE SetMin)
  Q_PROPERTY(int Max READ Max WRITE SetMax)
  Q_PROPERTY(int Increment READ Increment WRITE SetIncrement)
  Q_PROPERTY(int Position READ Position WRITE SetPosition)
  Q_PROPERTY(bool Wrap READ Wrap WRITE SetWrap)

 public:
  enum class Button { None, Up, Down };

  explicit TUpDown(QWidget* parent = nullptr);
  ~TUpDown() override;

  int Min() const { return min_; }
  int Max() const { return max_; }
  int Increment() const { return increment_; }
  int Position() const { return position_; }
  bool Wrap() const { return wrap_; }

  // Changing the range keeps the position inside it.
  void SetMin(int value);
  void SetMax(int value);
  void SetIncrement(int value) { increment_ = value; }
  // Clamped to the range; fires nothing.
  void SetPosition(int value);
  void SetWrap(bool value) { wrap_ = value; }

  // The label that shows the position (none: nullptr). It is updated at
  // once and on every change.
  void SetAssociate(QLabel* label);
  QLabel* Associate() const { return associate_; }

  TUDChangingEvent OnChanging;

  // Lower-case setters, so the window design compiler can set the
  // properties of a promoted widget.
  void setMin(int value) { SetMin(value); }
  void setMax(int value) { SetMax(value); }
  void setIncrement(int value) { SetIncrement(value); }
  void setPosition(int value) { SetPosition(value); }
  void setWrap(bool value) { SetWrap(value); }

  QSize sizeHint() const override { return {17, 21}; }
  QSize minimumSizeHint() const override { return {9, 9}; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  // One user step upwards or downwards: asks OnChanging, then moves.
  void Step(bool up);
  int Target(bool up) const;
  void ShowPosition();
  void Release();
  QRect UpRect() const;
  QRect DownRect() const;

  int min_ = 0;
  int max_ = 100;
  int increment_ = 1;
  int position_ = 0;
  bool wrap_ = false;
  QPointer<QLabel> associate_;
  Button pressed_ = Button::None;
  QTimer repeat_;
  int wheelRemainder_ = 0;
};
