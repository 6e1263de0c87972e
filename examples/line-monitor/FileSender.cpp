#include "FileSender.h"

FileSender::FileSender(TCustomComPort* port, QObject* parent) : QObject(parent), port_(port) {
  // A short interval: a chunk goes out as soon as the last one has
  // completed, without the timer spinning while the line is busy.
  timer_.setInterval(2);
  connect(&timer_, &QTimer::timeout, this, &FileSender::SendNext);
}

bool FileSender::Start(const QString& path, QString& error) {
  if (Sending()) {
    error = tr("a file is being sent");
    return false;
  }
  file_.setFileName(path);
  if (!file_.open(QIODevice::ReadOnly)) {
    error = file_.errorString();
    return false;
  }
  sent_ = 0;
  timer_.start();
  emit Progress(0, file_.size());
  return true;
}

void FileSender::Cancel() {
  if (Sending()) Finish(tr("cancelled"));
}

void FileSender::SendNext() {
  try {
    if (port_->WritePending()) return;
    if (file_.atEnd()) {
      Finish(QString());
      return;
    }
    const QByteArray chunk = file_.read(kChunkBytes);
    if (chunk.isEmpty()) {
      Finish(file_.errorString());
      return;
    }
    port_->Write(chunk.constData(), static_cast<int>(chunk.size()), false);  // copies the bytes
    sent_ += chunk.size();
    emit Progress(sent_, file_.size());
  } catch (const std::exception& failure) {
    Finish(QString::fromLocal8Bit(failure.what()));
  }
}

void FileSender::Finish(const QString& error) {
  timer_.stop();
  file_.close();
  emit Finished(error);
}
