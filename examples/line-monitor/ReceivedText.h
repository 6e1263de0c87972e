// ReceivedText: bytes from a serial line, read in pieces of any size, as
// text for a text view. The bytes are UTF-8; a character split across two
// reads is decoded whole once its last byte has come. CR, LF and CR LF each
// end a line and come out as one "\n", also when the CR ends one read and
// the LF begins the next.
#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringDecoder>

class ReceivedText {
 public:
  // The text of 'bytes' that is complete so far; the start of a character
  // still coming is held back for the next call.
  QString Take(QByteArrayView bytes);
  // Forgets what is held back, for a new stream (the port opened again).
  void Reset();

 private:
  QStringDecoder decoder_{QStringDecoder::Utf8};
  // The last text ended with a CR, which was shown as a line end: an LF
  // starting the next text belongs to it.
  bool afterCr_ = false;
};
