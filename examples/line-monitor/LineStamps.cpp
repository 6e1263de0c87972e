#include "LineStamps.h"

QString LineStamps::Stamp(const QString& text, const QTime& now) {
  if (text.isEmpty()) return text;
  const QString stamp = now.toString(QStringLiteral("[hh:mm:ss.zzz] "));
  QString stamped;
  stamped.reserve(text.size() + stamp.size());
  for (const QChar c : text) {
    if (atLineStart_) stamped += stamp;
    stamped += c;
    atLineStart_ = c == u'\n';
  }
  return stamped;
}
