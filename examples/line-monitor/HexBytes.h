// Bytes as hexadecimal text, both ways: the received bytes as rows of
// sixteen for a hex view, and typed hexadecimal as the bytes to send.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <optional>

// Received bytes, read in pieces of any size, as rows of sixteen "4F 4B"
// pairs: a row a piece left short is continued by the next piece.
class HexRows {
 public:
  static constexpr int kBytesPerRow = 16;

  // The text that follows what earlier calls gave.
  QString Take(QByteArrayView bytes);
  // The next byte starts a new row (the view was cleared).
  void Reset() { column_ = 0; }

 private:
  int column_ = 0;  // bytes already in the current row
};

// The bytes typed as hexadecimal pairs, such as "48 65 6c", "48656C" or
// "0x48, 0x65"; spaces and commas separate, a "0x" before a pair is
// allowed. Nothing when the text holds anything else or an odd digit.
std::optional<QByteArray> ParseHexBytes(const QString& text);
