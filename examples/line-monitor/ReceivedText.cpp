#include "ReceivedText.h"

QString ReceivedText::Take(QByteArrayView bytes) {
  QString text = decoder_.decode(bytes);
  if (text.isEmpty()) return text;
  if (afterCr_ && text.front() == u'\n') text.remove(0, 1);
  afterCr_ = text.endsWith(u'\r');
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  text.replace(u'\r', u'\n');
  return text;
}

void ReceivedText::Reset() {
  decoder_.resetState();
  afterCr_ = false;
}
