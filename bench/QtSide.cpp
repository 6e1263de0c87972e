// QSerialPort as a careful application uses it: readyRead in the event
// loop, readAll in the handler, and the next command written from there.
#include <QObject>
#include <QSerialPort>
#include <stdexcept>

#include "Side.h"

namespace bench {
namespace {

class QtSide final : public Side {
 public:
  std::string Name() const override { return "QSerialPort"; }

  void Open(const std::string& path) override {
    port_.setPortName(QString::fromStdString(path));
    if (!port_.open(QIODevice::ReadWrite))
      throw std::runtime_error("QSerialPort: " + port_.errorString().toStdString());
    if (!port_.setBaudRate(QSerialPort::Baud115200) || !port_.setDataBits(QSerialPort::Data8) ||
        !port_.setParity(QSerialPort::NoParity) || !port_.setStopBits(QSerialPort::OneStop) ||
        !port_.setFlowControl(QSerialPort::NoFlowControl))
      throw std::runtime_error("QSerialPort settings: " + port_.errorString().toStdString());
    QObject::connect(&port_, &QSerialPort::errorOccurred, &port_, [this](QSerialPort::SerialPortError e) {
      if (e != QSerialPort::NoError && LoopRun::Current() != nullptr)
        LoopRun::Current()->Fail("QSerialPort: " + port_.errorString().toStdString());
    });
  }

  void Close() override {
    QObject::disconnect(&port_, nullptr, nullptr, nullptr);
    port_.close();
  }

  void RoundTrips(const Exchange& exchange, int count, std::vector<double>* latencies) override {
    RoundTripLog log(exchange, count, latencies);
    LoopRun run;
    const QMetaObject::Connection connection = QObject::connect(&port_, &QSerialPort::readyRead, &port_, [&] {
      const QByteArray data = port_.readAll();
      if (!log.Received(data.constData(), static_cast<size_t>(data.size()))) return;
      if (log.Done())
        run.Finish();
      else
        Send(log);
    });
    Send(log);
    run.Exec(std::chrono::seconds(60 + count / 100), "QSerialPort round trips");
    QObject::disconnect(connection);
  }

  void Receive(uint64_t total) override {
    StreamCheck check(total);
    LoopRun run;
    const QMetaObject::Connection connection = QObject::connect(&port_, &QSerialPort::readyRead, &port_, [&] {
      const QByteArray data = port_.readAll();
      check.Received(reinterpret_cast<const uint8_t*>(data.constData()), static_cast<size_t>(data.size()));
      if (check.Done()) run.Finish();
    });
    run.Exec(std::chrono::seconds(120), "QSerialPort bulk receive");
    QObject::disconnect(connection);
  }

 private:
  void Send(RoundTripLog& log) {
    log.Sent();
    const std::string& command = log.Command();
    if (port_.write(command.data(), static_cast<qint64>(command.size())) !=
        static_cast<qint64>(command.size()))
      throw std::runtime_error("QSerialPort write: " + port_.errorString().toStdString());
  }

  QSerialPort port_;
};

}  // namespace

std::unique_ptr<Side> MakeQtSide() { return std::make_unique<QtSide>(); }

}  // namespace bench
