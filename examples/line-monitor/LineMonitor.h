// The line monitor's window: pick a serial port (or type its path), open
// it, watch what arrives, send lines, and see the line's signals on six
// indicator lamps. Written only against the installed package's headers.
#pragma once

#include <QString>
#include <QWidget>
#include <map>

#include "ReceivedText.h"
#include "comport/Comport.h"
#include "comsignal/Comsignal.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

class LineMonitor : public QWidget {
  Q_OBJECT

 public:
  // 'port' (a path such as /dev/ttyUSB0, or a name listed by the system)
  // is put in the port field; nothing is opened yet.
  explicit LineMonitor(const QString& port = QString(), QWidget* parent = nullptr);
  ~LineMonitor() override;

  // Fills the port list from the system's serial ports; the text typed in
  // the port field stays.
  void RefreshPorts();
  // Opens the port named in the port field at 115200 8N1 (or the settings
  // chosen since), or closes the open port. Failures go to the status line.
  void OpenOrClose();
  // Sends the typed line with the chosen line ending.
  void SendLine();
  // The system's serial settings dialog for the port's settings.
  void ShowSettings();

  // The device path the port field names: a listed port or a typed path,
  // a bare name meaning one under /dev.
  QString PortPath() const;

  // For tests and for embedding.
  TComPort* Port() const { return port_; }
  TComSignal* Indicator(TSignal signal) const { return indicators_.at(signal); }
  QLabel* Lamp(TSignal signal) const { return lamps_.at(signal); }
  QComboBox* PortBox() const { return portBox_; }
  QPushButton* OpenButton() const { return openButton_; }
  QLineEdit* SendEdit() const { return sendEdit_; }
  QPlainTextEdit* ReceivedView() const { return received_; }
  QLabel* StatusLine() const { return status_; }

 private:
  void BuildPort();
  void AddLamp(QWidget* row, TSignal signal, const QString& text, int delay);
  void ShowState();
  void ShowStatus(const QString& text);

  // The port's events (the indicators chain in front of these).
  void PortRxChar();
  void PortLineError(TLineErrors errors);
  void PortError(EComError& error);
  // Appends received text to the view.
  void ShowReceived(const QString& text);

  TComPort* port_ = nullptr;
  std::map<TSignal, TComSignal*> indicators_;
  std::map<TSignal, QLabel*> lamps_;
  QComboBox* portBox_ = nullptr;
  QPushButton* refreshButton_ = nullptr;
  QPushButton* settingsButton_ = nullptr;
  QPushButton* openButton_ = nullptr;
  QPlainTextEdit* received_ = nullptr;
  ReceivedText receivedText_;
  QLineEdit* sendEdit_ = nullptr;
  QComboBox* lineEnding_ = nullptr;
  QPushButton* sendButton_ = nullptr;
  QLabel* status_ = nullptr;
};
