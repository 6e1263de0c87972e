#include "HexBytes.h"

#include <QRegularExpression>
#include <QStringList>

QString HexRows::Take(QByteArrayView bytes) {
  QString text;
  text.reserve(bytes.size() * 3 + bytes.size() / kBytesPerRow + 1);
  for (const char byte : bytes) {
    if (column_ > 0) text += u' ';
    text += QString::number(static_cast<unsigned char>(byte), 16).rightJustified(2, u'0').toUpper();
    if (++column_ == kBytesPerRow) {
      text += u'\n';
      column_ = 0;
    }
  }
  return text;
}

std::optional<QByteArray> ParseHexBytes(const QString& text) {
  static const QRegularExpression separators(QStringLiteral("[\\s,]+"));
  static const QRegularExpression pairs(QStringLiteral("^(?:0[xX])?((?:[0-9A-Fa-f]{2})+)$"));
  QByteArray bytes;
  for (const QString& word : text.split(separators, Qt::SkipEmptyParts)) {
    const QRegularExpressionMatch match = pairs.match(word);
    if (!match.hasMatch()) return std::nullopt;
    bytes += QByteArray::fromHex(match.captured(1).toLatin1());
  }
  return bytes;
}
