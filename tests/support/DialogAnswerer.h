// Test helper: answers every serial configuration dialog shown while it
// lives. It watches Show events (no polling), notes what the dialog showed
// and runs its action on the dialog from the dialog's own event loop.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QPointer>
#include <QPushButton>

#include <functional>
#include <utility>
#include <vector>

#include "comport/CommConfigDialog.h"

// What a dialog showed when it came up.
struct SeenDialog {
  QString title;
  QString baudRate, dataBits, parity, stopBits, flowControl;
  QWidget* owner = nullptr;
};

class DialogAnswerer : public QObject {
 public:
  using Action = std::function<void(TCommConfigDialog*)>;

  // By default the dialog is cancelled.
  explicit DialogAnswerer(Action action = Cancel()) : action_(std::move(action)) {
    qApp->installEventFilter(this);
  }
  ~DialogAnswerer() override { qApp->removeEventFilter(this); }

  QList<SeenDialog> seen;

  static QComboBox* Field(TCommConfigDialog* dialog, const char* name) {
    return dialog->findChild<QComboBox*>(QString::fromLatin1(name));
  }
  static QPushButton* Button(TCommConfigDialog* dialog, QDialogButtonBox::StandardButton which) {
    return dialog->findChild<QDialogButtonBox*>(QStringLiteral("buttons"))->button(which);
  }
  // Selects the entry with 'text' ("Even", "1.5", ...) or types it (the rate).
  static void Set(TCommConfigDialog* dialog, const char* name, const QString& text) {
    QComboBox* combo = Field(dialog, name);
    const int index = combo->findText(text);
    if (combo->isEditable())
      combo->setEditText(text);
    else
      combo->setCurrentIndex(index);
  }

  static Action Cancel() {
    return [](TCommConfigDialog* d) { Button(d, QDialogButtonBox::Cancel)->click(); };
  }
  // Sets the fields (name, text) and presses OK, or Cancel when 'confirm'
  // is false.
  static Action Answer(std::vector<std::pair<const char*, QString>> fields, bool confirm = true) {
    return [fields = std::move(fields), confirm](TCommConfigDialog* d) {
      for (const auto& [name, text] : fields) Set(d, name, text);
      QPushButton* ok = Button(d, QDialogButtonBox::Ok);
      if (confirm && !ok->isEnabled()) {
        ADD_FAILURE() << "OK is disabled; the dialog is cancelled";
        d->reject();
        return;
      }
      Button(d, confirm ? QDialogButtonBox::Ok : QDialogButtonBox::Cancel)->click();
    };
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    auto* dialog = qobject_cast<TCommConfigDialog*>(watched);
    if (dialog != nullptr && event->type() == QEvent::Show) {
      seen.append({dialog->windowTitle(), Field(dialog, "baudRate")->currentText(),
                   Field(dialog, "dataBits")->currentText(), Field(dialog, "parity")->currentText(),
                   Field(dialog, "stopBits")->currentText(), Field(dialog, "flowControl")->currentText(),
                   dialog->parentWidget()});
      QMetaObject::invokeMethod(
          this,
          [this, target = QPointer<TCommConfigDialog>(dialog)] {
            if (target) action_(target);
          },
          Qt::QueuedConnection);
    }
    return false;
  }

 private:
  Action action_;
};
