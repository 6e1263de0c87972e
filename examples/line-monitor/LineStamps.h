// Time stamps for received text: each line that starts gets the time it
// started, "[hh:mm:ss.zzz] ", also when its text comes in several pieces.
#pragma once

#include <QString>
#include <QTime>

class LineStamps {
 public:
  // 'text' (lines ended by "\n") with a stamp of 'now' before each line
  // that begins in it.
  QString Stamp(const QString& text, const QTime& now);
  // The next text starts a new line (the view was cleared).
  void Reset() { atLineStart_ = true; }

 private:
  bool atLineStart_ = true;
};
