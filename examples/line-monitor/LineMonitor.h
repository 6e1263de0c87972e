// The line monitor's window: pick a serial port (or type its path), open
// it, watch what arrives as text and as hex, send lines, typed hex bytes
// or a file, capture what arrives to a file, drive DTR, RTS and break, and
// see the line's signals on indicator lamps. Written only against the
// installed package's headers.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QWidget>
#include <functional>
#include <map>

#include "FileSender.h"
#include "HexBytes.h"
#include "LineStamps.h"
#include "ReceivedText.h"
#include "comport/Comport.h"
#include "comsignal/Comsignal.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

class LineMonitor : public QWidget {
  Q_OBJECT

 public:
  // What a paused view holds back at most; older held bytes are dropped.
  static constexpr qsizetype kMaxHeldBytes = 1 << 20;

  // 'port' (a path such as /dev/ttyUSB0, or a name listed by the system)
  // is put in the port field; nothing is opened yet, and nothing listed is
  // preselected.
  explicit LineMonitor(const QString& port = QString(), QWidget* parent = nullptr);
  ~LineMonitor() override;

  // Fills the port list from the system's serial ports; the text typed in
  // the port field stays, and the open port keeps its entry. Also called
  // when a device is plugged in or removed.
  void RefreshPorts();
  // Opens the port named in the port field at 115200 8N1 (or the settings
  // chosen since), or closes the open port. Failures go to the status line.
  void OpenOrClose();
  // Sends the typed line with the chosen line ending, or with "Hex" ticked
  // the typed hexadecimal bytes as they are.
  void SendLine();
  // The system's serial settings dialog for the port's settings.
  void ShowSettings();
  // Starts writing every received byte to 'path' (replacing the file), or
  // stops it. Failures go to the status line.
  bool StartCapture(const QString& path);
  void StopCapture();
  // Starts sending the file at 'path' through the open port.
  bool SendFile(const QString& path);
  // Empties both views (and what a pause holds back).
  void Clear();

  // The device the port field names: a listed port's name or a typed path;
  // the port finds a bare name in its device folder (/dev).
  QString PortPath() const;

  // For tests and for embedding.
  TComPort* Port() const { return port_; }
  TComSignal* Indicator(TSignal signal) const { return indicators_.at(signal); }
  QLabel* Lamp(TSignal signal) const { return lamps_.at(signal); }
  QComboBox* PortBox() const { return portBox_; }
  QPushButton* OpenButton() const { return openButton_; }
  QLabel* SettingsLine() const { return settingsLine_; }
  QComboBox* RateBox() const { return rateBox_; }
  QPushButton* DtrButton() const { return dtrButton_; }
  QPushButton* RtsButton() const { return rtsButton_; }
  QPushButton* BreakButton() const { return breakButton_; }
  QCheckBox* TimeStampsBox() const { return timeStamps_; }
  QPushButton* PauseButton() const { return pauseButton_; }
  QPushButton* ClearButton() const { return clearButton_; }
  QPushButton* CaptureButton() const { return captureButton_; }
  QLineEdit* SendEdit() const { return sendEdit_; }
  QCheckBox* HexSendBox() const { return hexSend_; }
  QComboBox* LineEndingBox() const { return lineEnding_; }
  QPushButton* SendFileButton() const { return sendFileButton_; }
  QProgressBar* SendProgress() const { return sendProgress_; }
  QPlainTextEdit* ReceivedView() const { return received_; }
  QPlainTextEdit* HexView() const { return hexView_; }
  QLabel* StatusLine() const { return status_; }

 private:
  void BuildPort();
  QWidget* BuildPortRow();
  QWidget* BuildLineRow();
  QWidget* BuildLampRow();
  QWidget* BuildViews();
  QWidget* BuildViewRow();
  QWidget* BuildSendRow();
  void AddLamp(QWidget* row, TSignal signal, const QString& text, int delay);
  // A toggle button calling 'set' with its new state; one that raises puts
  // the button back and says why in the status line.
  QPushButton* AddToggle(QWidget* row, const QString& text, const std::function<void(bool)>& set);
  void ShowState();
  // The modem line toggles as a port starts or ends, then the state.
  void ShowOpenedOrClosed();
  // The capture button as the capture is.
  void ShowCapturing();
  void ShowSettingsLine();
  void ShowStatus(const QString& text);

  // The rate typed or picked in the rate box, for the port.
  void ChangeRate(const QString& text);
  void CaptureToggled(bool on);
  void SendFileClicked();
  void PauseToggled(bool paused);

  // The port's events (the indicators chain in front of these).
  void PortRxChar();
  void PortLineError(TLineErrors errors);
  void PortError(EComError& error);
  void DeviceChanged(const QString& name, bool arrived);
  // Received bytes into both views.
  void ShowReceived(QByteArrayView bytes);

  TComPort* port_ = nullptr;
  FileSender* fileSender_ = nullptr;
  std::map<TSignal, TComSignal*> indicators_;
  std::map<TSignal, QLabel*> lamps_;
  QComboBox* portBox_ = nullptr;
  QPushButton* refreshButton_ = nullptr;
  QPushButton* settingsButton_ = nullptr;
  QPushButton* openButton_ = nullptr;
  QLabel* settingsLine_ = nullptr;
  QComboBox* rateBox_ = nullptr;
  QPushButton* dtrButton_ = nullptr;
  QPushButton* rtsButton_ = nullptr;
  QPushButton* breakButton_ = nullptr;
  QPlainTextEdit* received_ = nullptr;
  QPlainTextEdit* hexView_ = nullptr;
  ReceivedText receivedText_;
  HexRows hexRows_;
  LineStamps lineStamps_;
  QCheckBox* timeStamps_ = nullptr;
  QPushButton* pauseButton_ = nullptr;
  QPushButton* clearButton_ = nullptr;
  QPushButton* captureButton_ = nullptr;
  QByteArray held_;  // received while paused
  QFile capture_;
  QLineEdit* sendEdit_ = nullptr;
  QCheckBox* hexSend_ = nullptr;
  QComboBox* lineEnding_ = nullptr;
  QPushButton* sendButton_ = nullptr;
  QPushButton* sendFileButton_ = nullptr;
  QProgressBar* sendProgress_ = nullptr;
  QLabel* status_ = nullptr;
};
