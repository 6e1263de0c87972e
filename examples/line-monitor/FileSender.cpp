#include "FileSender.h"

#include <QFileInfo>

FileSender::FileSender(TCustomComPort* port, QObject* parent) : QObject(parent), port_(port) {}

bool FileSender::Start(const QString& path, QString& error) {
  if (Sending()) {
    error = tr("a file is being sent");
    return false;
  }
  // Only a regular file: reading a FIFO or a device would block the window.
  if (!QFileInfo(path).isFile()) {
    error = QFileInfo::exists(path) ? tr("not a regular file") : tr("no such file");
    return false;
  }
  file_.setFileName(path);
  if (!file_.open(QIODevice::ReadOnly)) {
    error = file_.errorString();
    return false;
  }
  sent_ = 0;
  savedTxEmpty_ = port_->OnTxEmpty();
  try {
    port_->SetOnTxEmpty(TNotifyEvent::Bind([this](TObject*) { SendNext(); }, this));
  } catch (const std::exception& failure) {
    file_.close();
    error = QString::fromLocal8Bit(failure.what());
    return false;
  }
  emit Progress(0, file_.size());
  SendNext();
  return true;
}

void FileSender::Cancel() {
  if (Sending()) Finish(tr("cancelled"));
}

void FileSender::SendNext() {
  try {
    // Another write still under way: its end brings the next event.
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
  file_.close();
  try {
    port_->SetOnTxEmpty(savedTxEmpty_);
  } catch (const std::exception&) {
    // The handler is back; only the event mask of a port that failed meanwhile
    // could not follow, which its next open sets again.
  }
  savedTxEmpty_ = nullptr;
  emit Finished(error);
}
