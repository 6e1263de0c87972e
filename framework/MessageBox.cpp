#include "framework/MessageBox.h"

#include <QMessageBox>
#include <QPushButton>

namespace {

QMessageBox::Icon IconOf(unsigned flags) {
  switch (flags & 0xF0u) {
    case MB_ICONERROR: return QMessageBox::Critical;
    case MB_ICONQUESTION: return QMessageBox::Question;
    case MB_ICONWARNING: return QMessageBox::Warning;
    case MB_ICONINFORMATION: return QMessageBox::Information;
    default: return QMessageBox::NoIcon;
  }
}

bool IsYesNo(unsigned flags) { return (flags & 0x0Fu) == MB_YESNO; }

}  // namespace

int MessageBox(QWidget* owner, const QString& text, const QString& caption, unsigned flags) {
  const bool yesNo = IsYesNo(flags);
  QMessageBox box(IconOf(flags), caption, text, yesNo ? (QMessageBox::Yes | QMessageBox::No) : QMessageBox::Ok,
                  owner);
  // Messages carry device names and system texts: never interpret them as markup.
  box.setTextFormat(Qt::PlainText);
  if (yesNo) {
    box.setDefaultButton((flags & MB_DEFBUTTON2) != 0 ? QMessageBox::No : QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::No);
  } else {
    box.setDefaultButton(QMessageBox::Ok);
    box.setEscapeButton(QMessageBox::Ok);
  }
  box.exec();
  QAbstractButton* clicked = box.clickedButton();
  if (yesNo) return clicked != nullptr && box.standardButton(clicked) == QMessageBox::Yes ? IDYES : IDNO;
  return IDOK;
}
