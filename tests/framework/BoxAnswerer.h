// Test helper: answers every message box that is shown while it lives.
// It watches Show events of the application (no polling) and runs its
// action on the box from the box's own event loop, after the box is up.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPointer>

#include <functional>
#include <utility>

struct SeenBox {
  QString text, caption;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QWidget* owner = nullptr;
  Qt::TextFormat format = Qt::AutoText;
};

class BoxAnswerer : public QObject {
 public:
  using Action = std::function<void(QMessageBox*)>;

  // By default the box is answered with its escape button (OK on an OK box).
  explicit BoxAnswerer(Action action = {}) : action_(std::move(action)) { qApp->installEventFilter(this); }
  ~BoxAnswerer() override { qApp->removeEventFilter(this); }

  QList<SeenBox> seen;

  static Action Click(QMessageBox::StandardButton button) {
    return [button](QMessageBox* box) { box->button(button)->click(); };
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    auto* box = qobject_cast<QMessageBox*>(watched);
    if (box != nullptr && event->type() == QEvent::Show) {
      seen.append({box->text(), box->windowTitle(), box->icon(), box->parentWidget(), box->textFormat()});
      QMetaObject::invokeMethod(
          this,
          [this, target = QPointer<QMessageBox>(box)] {
            if (!target) return;
            if (action_)
              action_(target);
            else
              target->escapeButton()->click();
          },
          Qt::QueuedConnection);
    }
    return false;
  }

 private:
  Action action_;
};
