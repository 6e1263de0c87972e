#include "framework/UpDown.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>
#include <QWheelEvent>

#include <algorithm>

#include "framework/Guard.h"

namespace {

constexpr int kRepeatDelayMs = 400;   // before a held arrow starts repeating
constexpr int kRepeatPeriodMs = 100;  // between repeated steps
constexpr int kWheelStep = 120;       // one notch of a mouse wheel

}  // namespace

TUpDown::TUpDown(QWidget* parent) : QWidget(parent) {
  setFocusPolicy(Qt::StrongFocus);
  resize(sizeHint());
  connect(&repeat_, &QTimer::timeout, this, [this] {
    // The release may have gone elsewhere (a modal box opened meanwhile).
    QWidget* modal = QApplication::activeModalWidget();
    if (pressed_ == Button::None || !(QGuiApplication::mouseButtons() & Qt::LeftButton) ||
        (modal != nullptr && !modal->isAncestorOf(this))) {
      Release();
      return;
    }
    repeat_.setInterval(kRepeatPeriodMs);
    Step(pressed_ == Button::Up);
  });
}

TUpDown::~TUpDown() = default;

void TUpDown::SetMin(int value) {
  min_ = value;
  SetPosition(position_);
}

void TUpDown::SetMax(int value) {
  max_ = value;
  SetPosition(position_);
}

void TUpDown::SetPosition(int value) {
  const int clamped = std::clamp(value, std::min(min_, max_), std::max(min_, max_));
  position_ = clamped;
  ShowPosition();
}

void TUpDown::SetAssociate(QLabel* label) {
  associate_ = label;
  ShowPosition();
}

void TUpDown::ShowPosition() {
  if (associate_) associate_->setText(QString::number(position_));
}

int TUpDown::Target(bool up) const {
  const long long low = std::min(min_, max_), high = std::max(min_, max_);
  const long long step = (up == (max_ >= min_)) ? increment_ : -static_cast<long long>(increment_);
  const long long next = position_ + step;
  if (next > high) return static_cast<int>(wrap_ ? low : high);
  if (next < low) return static_cast<int>(wrap_ ? high : low);
  return static_cast<int>(next);
}

void TUpDown::Step(bool up) {
  const int target = Target(up);
  if (target == position_) return;
  bool allow = true;
  bool failed = true;
  QPointer<TUpDown> self(this);
  Guarded([&] {
    const TUDChangingEvent handler = OnChanging;
    handler(this, allow);
    failed = false;
  });
  // A handler that raised (or destroyed the spinner) vetoes the step.
  if (!self || failed || !allow) {
    if (self) Release();
    return;
  }
  position_ = target;
  ShowPosition();
  update();
}

void TUpDown::Release() {
  pressed_ = Button::None;
  repeat_.stop();
  update();
}

QRect TUpDown::UpRect() const { return {0, 0, width(), height() / 2}; }

QRect TUpDown::DownRect() const { return {0, height() / 2, width(), height() - height() / 2}; }

void TUpDown::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  auto drawButton = [&](const QRect& rect, bool up) {
    QStyleOptionButton button;
    button.initFrom(this);
    button.rect = rect;
    const bool down = pressed_ == (up ? Button::Up : Button::Down);
    button.state |= down ? QStyle::State_Sunken : QStyle::State_Raised;
    style()->drawPrimitive(QStyle::PE_PanelButtonBevel, &button, &painter, this);
    QStyleOption arrow;
    arrow.initFrom(this);
    const int margin = std::max(1, rect.height() / 5);
    arrow.rect = rect.adjusted(margin, margin, -margin, -margin);
    if (down) arrow.rect.translate(1, 1);
    style()->drawPrimitive(up ? QStyle::PE_IndicatorArrowUp : QStyle::PE_IndicatorArrowDown, &arrow, &painter,
                           this);
  };
  drawButton(UpRect(), true);
  drawButton(DownRect(), false);
}

void TUpDown::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    QWidget::mousePressEvent(event);
    return;
  }
  const bool up = event->position().y() < height() / 2;
  pressed_ = up ? Button::Up : Button::Down;
  update();
  repeat_.start(kRepeatDelayMs);
  Step(up);
}

void TUpDown::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) Release();
  QWidget::mouseReleaseEvent(event);
}

void TUpDown::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Up || event->key() == Qt::Key_Down)
    Step(event->key() == Qt::Key_Up);
  else
    QWidget::keyPressEvent(event);
}

void TUpDown::wheelEvent(QWheelEvent* event) {
  wheelRemainder_ += event->angleDelta().y();
  QPointer<TUpDown> self(this);
  while (self && std::abs(wheelRemainder_) >= kWheelStep) {
    const bool up = wheelRemainder_ > 0;
    wheelRemainder_ -= up ? kWheelStep : -kWheelStep;
    Step(up);
  }
  event->accept();
}

void TUpDown::changeEvent(QEvent* event) {
  if (event->type() == QEvent::EnabledChange && !isEnabled()) Release();
  QWidget::changeEvent(event);
}
