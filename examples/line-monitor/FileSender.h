// Sends a file through an open port without blocking the window: a chunk
// at a time, each a write that does not wait, the next one issued when the
// port reports its output empty (OnTxEmpty), so nothing runs while the line
// is busy. The port's own OnTxEmpty handler is put back when the sending
// ends.
#pragma once

#include <QFile>
#include <QObject>
#include <QString>

#include "comport/Comport.h"

class FileSender : public QObject {
  Q_OBJECT

 public:
  static constexpr int kChunkBytes = 256;

  explicit FileSender(TCustomComPort* port, QObject* parent = nullptr);

  // Starts sending the file at 'path'; false (with the reason in 'error')
  // when it cannot be read or a sending is under way.
  bool Start(const QString& path, QString& error);
  // Stops sending; what was written stays written. Finished follows.
  void Cancel();
  bool Sending() const { return file_.isOpen(); }

 signals:
  // 'sent' of 'total' bytes have been handed to the port.
  void Progress(qint64 sent, qint64 total);
  // The sending ended: 'error' is empty when the whole file went out.
  void Finished(const QString& error);

 private:
  void SendNext();
  void Finish(const QString& error);

  TCustomComPort* const port_;
  QFile file_;
  TNotifyEvent savedTxEmpty_;  // the port's handler while a file is sent
  qint64 sent_ = 0;
};
