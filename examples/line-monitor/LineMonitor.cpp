#include "LineMonitor.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFont>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QMetaEnum>
#include <QPalette>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSplitter>
#include <QStringList>
#include <QTextBlock>
#include <QTextCursor>
#include <QTime>
#include <QVBoxLayout>
#include <cmath>
#include <functional>
#include <initializer_list>
#include <optional>
#include <utility>

namespace {

// The lines each received view keeps; older ones are dropped.
constexpr int kHistoryLines = 10000;

// The rates the rate box offers; any other can be typed.
constexpr int kRates[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400, 460800, 921600};

// What a port failure says, for the status line.
QString ErrorText(const std::exception& error) { return QString::fromLocal8Bit(error.what()); }

// Black or white, whichever stands out more from 'background' (by the
// colours' relative luminance as the eye sees it).
QColor ContrastingText(const QColor& background) {
  const auto linear = [](float v) { return v <= 0.03928F ? v / 12.92F : std::pow((v + 0.055F) / 1.055F, 2.4F); };
  const float luminance = 0.2126F * linear(background.redF()) + 0.7152F * linear(background.greenF()) +
                          0.0722F * linear(background.blueF());
  // Above this, black text has the greater contrast.
  return luminance > 0.179F ? QColor(Qt::black) : QColor(Qt::white);
}

// A lamp: a label whose background the indicator colours (the Window and
// Button roles). Its text follows every such change with a contrasting
// colour, so it reads on a dark lamp as on a bright one.
class LampLabel : public QLabel {
 public:
  using QLabel::QLabel;

 protected:
  void changeEvent(QEvent* event) override {
    QLabel::changeEvent(event);
    if (event->type() != QEvent::PaletteChange) return;
    QPalette colors = palette();
    const QColor text = ContrastingText(colors.color(QPalette::Window));
    if (colors.color(QPalette::WindowText) == text) return;  // also ends the change this makes
    colors.setColor(QPalette::WindowText, text);
    setPalette(colors);
  }
};

// A row of widgets side by side without margins; a null widget stands for
// a stretch taking the room left.
QWidget* NewRow(std::initializer_list<QWidget*> widgets) {
  auto* row = new QWidget;
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);
  for (QWidget* widget : widgets) {
    if (widget != nullptr) {
      layout->addWidget(widget);
    } else {
      layout->addStretch(1);
    }
  }
  return row;
}

// A monospaced, read-only view keeping the latest kHistoryLines lines.
QPlainTextEdit* NewReceivedView() {
  auto* view = new QPlainTextEdit;
  view->setReadOnly(true);
  view->setMaximumBlockCount(kHistoryLines);
  view->setFont(QFont(QStringLiteral("monospace")));
  return view;
}

// Appends 'text' to 'view'. A view at the bottom follows the new text.
// One the user scrolled up stays on the lines it shows, also when the
// oldest lines are dropped above them: the block at its top is followed
// by a cursor through the change. The text goes in through a cursor of
// its own, so the user's cursor and selection stay too.
void AppendFollowing(QPlainTextEdit* view, const QString& text) {
  if (text.isEmpty()) return;
  QScrollBar* scroll = view->verticalScrollBar();
  const bool following = scroll->value() == scroll->maximum();
  const QTextCursor top = view->cursorForPosition(QPoint(0, 0));
  const int linesIntoTop = scroll->value() - top.block().firstLineNumber();
  QTextCursor end(view->document());
  end.movePosition(QTextCursor::End);
  end.insertText(text);
  scroll->setValue(following ? scroll->maximum() : top.block().firstLineNumber() + linesIntoTop);
}

// The line settings in the usual short form, such as "115200 8N1".
QString SettingsText(const TCustomComPort& port) {
  static const char* const parities = "?NOEMS";  // by TParity
  static const char* const stopBits[] = {"?", "1", "1.5", "2"};  // by TStopBits
  const int dataBits = port.DataBits() == dbDefault ? 0 : 3 + static_cast<int>(port.DataBits());
  QString flow;
  if (port.FlowControl()->RTS() == rcHandshake) flow += QStringLiteral(", RTS/CTS");
  if (port.FlowControl()->XOnXOff() != xcDefault && port.FlowControl()->XOnXOff() != xcDisable)
    flow += QStringLiteral(", XON/XOFF");
  return QStringLiteral("%1 %2%3%4%5")
      .arg(port.CustomBaudRate())
      .arg(dataBits == 0 ? QStringLiteral("?") : QString::number(dataBits))
      .arg(QChar::fromLatin1(parities[port.Parity()]))
      .arg(QString::fromLatin1(stopBits[port.StopBits()]), flow);
}

// Checks or unchecks 'button' without it answering as to a click.
void SetQuietly(QAbstractButton* button, bool checked) {
  const QSignalBlocker quiet(button);
  button->setChecked(checked);
}

}  // namespace

LineMonitor::LineMonitor(const QString& port, QWidget* parent) : QWidget(parent) {
  setWindowTitle(tr("Serial monitor"));
  BuildPort();
  fileSender_ = new FileSender(port_, this);

  status_ = new QLabel;
  status_->setTextInteractionFlags(Qt::TextSelectableByMouse);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(BuildPortRow());
  layout->addWidget(BuildLineRow());
  layout->addWidget(BuildLampRow());
  layout->addWidget(BuildViews(), 1);
  layout->addWidget(BuildViewRow());
  layout->addWidget(BuildSendRow());
  layout->addWidget(status_);

  connect(fileSender_, &FileSender::Progress, this, [this](qint64 sent, qint64 total) {
    // The bar counts in per mille, so files beyond int's range fit.
    sendProgress_->setValue(total > 0 ? static_cast<int>(sent * 1000 / total) : 1000);
  });
  connect(fileSender_, &FileSender::Finished, this, [this](const QString& error) {
    ShowStatus(error.isEmpty() ? tr("File sent.") : tr("Sending the file stopped: %1").arg(error));
    ShowState();
  });

  RefreshPorts();
  if (!port.isEmpty()) portBox_->setEditText(port);
  ShowSettingsLine();
  ShowState();
}

LineMonitor::~LineMonitor() {
  // Closed while the window is whole, so the close's handlers find it.
  try {
    port_->Close();
  } catch (const std::exception&) {
  }
}

void LineMonitor::BuildPort() {
  // The port belongs to the window; its handlers are set before the
  // indicators attach, which then chain in front of them.
  port_ = new TComPort(this);
  port_->SetBaudRate(br115200);
  port_->SetDataBits(db8);
  port_->SetParity(paNone);
  port_->SetStopBits(sb1);
  port_->SetOnRxChar(TNotifyEvent::Bind([this](TObject*) { PortRxChar(); }));
  port_->SetOnLineError(TLineErrorEvent::Bind([this](TObject*, TLineErrors errors) { PortLineError(errors); }));
  port_->SetOnError(
      TComErrorEvent::Bind([this](TCustomComPort*, EComError& error, TComAction&) { PortError(error); }));
  port_->SetAfterOpen(TOpenCloseEvent::Bind([this](TCustomComPort*) { ShowOpenedOrClosed(); }));
  port_->SetAfterClose(TOpenCloseEvent::Bind([this](TCustomComPort*) { ShowOpenedOrClosed(); }));
  // Ports plugged in or removed show in the list at once.
  port_->SetOnDeviceArrival(
      TDeviceArrivalEvent::Bind([this](TObject*, const QString& name) { DeviceChanged(name, true); }));
  port_->SetOnDeviceRemoved(
      TDeviceRemovedEvent::Bind([this](TObject*, const QString& name) { DeviceChanged(name, false); }));
}

QWidget* LineMonitor::BuildPortRow() {
  portBox_ = new QComboBox;
  portBox_->setEditable(true);
  portBox_->setInsertPolicy(QComboBox::NoInsert);
  portBox_->setMinimumContentsLength(28);
  portBox_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  portBox_->lineEdit()->setPlaceholderText(tr("port, e.g. /dev/ttyUSB0"));
  refreshButton_ = new QPushButton(tr("Refresh"));
  settingsButton_ = new QPushButton(tr("Settings..."));
  openButton_ = new QPushButton;
  connect(refreshButton_, &QPushButton::clicked, this, &LineMonitor::RefreshPorts);
  connect(settingsButton_, &QPushButton::clicked, this, &LineMonitor::ShowSettings);
  connect(openButton_, &QPushButton::clicked, this, &LineMonitor::OpenOrClose);
  return NewRow({new QLabel(tr("Port:")), portBox_, refreshButton_, settingsButton_, openButton_});
}

QWidget* LineMonitor::BuildLineRow() {
  settingsLine_ = new QLabel;
  settingsLine_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  rateBox_ = new QComboBox;
  rateBox_->setEditable(true);
  rateBox_->setInsertPolicy(QComboBox::NoInsert);
  rateBox_->setValidator(new QIntValidator(1, 99999999, rateBox_));
  for (const int rate : kRates) rateBox_->addItem(QString::number(rate));
  connect(rateBox_, &QComboBox::textActivated, this, &LineMonitor::ChangeRate);
  QWidget* row = NewRow({new QLabel(tr("Line:")), settingsLine_, new QLabel(tr("  Rate:")), rateBox_, nullptr});
  dtrButton_ = AddToggle(row, tr("DTR"), [this](bool on) { on ? port_->SetDTR() : port_->ClearDTR(); });
  rtsButton_ = AddToggle(row, tr("RTS"), [this](bool on) { on ? port_->SetRTS() : port_->ClearRTS(); });
  breakButton_ = AddToggle(row, tr("Break"), [this](bool on) { on ? port_->SetBreak() : port_->ClearBreak(); });
  return row;
}

QPushButton* LineMonitor::AddToggle(QWidget* row, const QString& text, const std::function<void(bool)>& set) {
  auto* button = new QPushButton(text);
  button->setCheckable(true);
  row->layout()->addWidget(button);
  connect(button, &QPushButton::toggled, this, [this, button, text, set](bool checked) {
    try {
      set(checked);
    } catch (const std::exception& error) {
      // The line stays as it was (a pseudo-terminal has no modem lines).
      SetQuietly(button, !checked);
      ShowStatus(tr("Cannot change %1: %2").arg(text, ErrorText(error)));
    }
  });
  return button;
}

QWidget* LineMonitor::BuildLampRow() {
  // One lamp per signal: pulses stay lit a little after their last event.
  QWidget* row = NewRow({});
  AddLamp(row, siRxChar, tr("RX"), 100);
  AddLamp(row, siTxChar, tr("TX"), 100);
  AddLamp(row, siCTS, tr("CTS"), 0);
  AddLamp(row, siDSR, tr("DSR"), 0);
  AddLamp(row, siRLSD, tr("DCD"), 0);
  AddLamp(row, siRing, tr("RI"), 0);
  AddLamp(row, siLineError, tr("ERR"), 1000);
  static_cast<QHBoxLayout*>(row->layout())->addStretch(1);
  return row;
}

QWidget* LineMonitor::BuildViews() {
  received_ = NewReceivedView();
  hexView_ = NewReceivedView();
  // A row of sixteen pairs fits without wrapping.
  hexView_->setMinimumWidth(hexView_->fontMetrics().horizontalAdvance(QString(HexRows::kBytesPerRow * 3 + 2, u'0')));
  auto* views = new QSplitter;
  views->addWidget(received_);
  views->addWidget(hexView_);
  views->setStretchFactor(0, 3);
  views->setStretchFactor(1, 2);
  return views;
}

QWidget* LineMonitor::BuildViewRow() {
  timeStamps_ = new QCheckBox(tr("Time stamps"));
  pauseButton_ = new QPushButton(tr("Pause"));
  pauseButton_->setCheckable(true);
  clearButton_ = new QPushButton(tr("Clear"));
  captureButton_ = new QPushButton(tr("Capture..."));
  captureButton_->setCheckable(true);
  connect(pauseButton_, &QPushButton::toggled, this, &LineMonitor::PauseToggled);
  connect(clearButton_, &QPushButton::clicked, this, &LineMonitor::Clear);
  connect(captureButton_, &QPushButton::toggled, this, &LineMonitor::CaptureToggled);
  return NewRow({timeStamps_, nullptr, captureButton_, pauseButton_, clearButton_});
}

QWidget* LineMonitor::BuildSendRow() {
  sendEdit_ = new QLineEdit;
  sendEdit_->setPlaceholderText(tr("text to send"));
  hexSend_ = new QCheckBox(tr("Hex"));
  hexSend_->setToolTip(tr("Send the typed hexadecimal bytes, such as 48 65 0D, as they are"));
  lineEnding_ = new QComboBox;
  lineEnding_->addItem(tr("no line ending"), QString());
  lineEnding_->addItem(tr("CR"), QStringLiteral("\r"));
  lineEnding_->addItem(tr("LF"), QStringLiteral("\n"));
  lineEnding_->addItem(tr("CR LF"), QStringLiteral("\r\n"));
  lineEnding_->setCurrentIndex(3);
  sendButton_ = new QPushButton(tr("Send"));
  sendFileButton_ = new QPushButton(tr("Send file..."));
  sendProgress_ = new QProgressBar;
  sendProgress_->setRange(0, 1000);
  sendProgress_->setMaximumWidth(120);
  sendProgress_->setTextVisible(true);
  connect(sendButton_, &QPushButton::clicked, this, &LineMonitor::SendLine);
  connect(sendEdit_, &QLineEdit::returnPressed, this, &LineMonitor::SendLine);
  connect(sendFileButton_, &QPushButton::clicked, this, &LineMonitor::SendFileClicked);
  // Typed hex bytes go out exactly as typed.
  connect(hexSend_, &QCheckBox::toggled, lineEnding_, &QWidget::setDisabled);
  return NewRow({sendEdit_, hexSend_, lineEnding_, sendButton_, sendFileButton_, sendProgress_});
}

void LineMonitor::AddLamp(QWidget* row, TSignal signal, const QString& text, int delay) {
  auto* lamp = new LampLabel(text);
  lamp->setAlignment(Qt::AlignCenter);
  lamp->setFrameShape(QFrame::Panel);
  lamp->setFrameShadow(QFrame::Sunken);
  lamp->setMinimumWidth(48);
  row->layout()->addWidget(lamp);

  auto* indicator = new TComSignal(this);
  indicator->SetSignal(signal);
  indicator->SetDelay(delay);
  indicator->SetColorOff(0x303030);  // dark grey
  indicator->SetColorOn(signal == siLineError ? 0x0000FF : 0x00FF00);  // red, green
  indicator->SetControl(lamp);
  indicator->SetComPort(port_);
  indicators_[signal] = indicator;
  lamps_[signal] = lamp;
}

void LineMonitor::RefreshPorts() {
  const QString typed = portBox_->currentText();
  QStringList names;
  QStringList friendlyNames;
  port_->EnumComDevices(names);
  port_->EnumComFriendlyNames(friendlyNames);
  names.removeDuplicates();
  names.sort();
  // "<description> (<name>)": the description by name.
  static const QRegularExpression friendly(QStringLiteral("^(.*) \\(([^()]+)\\)$"));
  std::map<QString, QString> descriptions;
  for (const QString& line : friendlyNames) {
    const QRegularExpressionMatch match = friendly.match(line);
    if (match.hasMatch()) descriptions[match.captured(2)] = match.captured(1);
  }
  portBox_->clear();
  // Each entry carries the name as listed: the port finds a bare name in
  // its own device folder.
  for (const QString& name : names) {
    const auto description = descriptions.find(name);
    portBox_->addItem(description == descriptions.end() ? name : name + QStringLiteral("  -  ") + description->second,
                      name);
  }
  // The open port stays listed, also when the system lists it no more.
  if (port_->Active() && !names.contains(port_->DeviceName()))
    portBox_->addItem(port_->DeviceName() + tr("  -  open"), port_->DeviceName());
  // Nothing is preselected: a click on Open opens only the port the user
  // typed or picked (or opened last), never one the system listed first.
  portBox_->setCurrentIndex(-1);
  portBox_->setEditText(typed);
  ShowStatus(names.isEmpty() ? tr("No serial ports found; type a port's path.")
                             : tr("%n serial port(s) found.", nullptr, static_cast<int>(names.size())));
}

void LineMonitor::DeviceChanged(const QString& name, bool arrived) {
  RefreshPorts();
  // Interface paths (beginning with '/') come with the port's own name.
  if (!name.startsWith(u'/')) ShowStatus(arrived ? tr("%1 plugged in.").arg(name) : tr("%1 removed.").arg(name));
}

QString LineMonitor::PortPath() const {
  const QString text = portBox_->currentText().trimmed();
  // A listed entry carries its name; typed text is the name itself.
  const int index = portBox_->findText(text);
  return index >= 0 ? portBox_->itemData(index).toString() : text;
}

void LineMonitor::OpenOrClose() {
  try {
    if (port_->Active()) {
      fileSender_->Cancel();
      port_->Close();
      ShowStatus(tr("Closed %1.").arg(port_->DeviceName()));
      return;
    }
    const QString path = PortPath();
    if (path.isEmpty()) {
      ShowStatus(tr("Choose a port or type its path."));
      return;
    }
    port_->SetDeviceName(path);
    // A new session: nothing held back from the last one continues.
    receivedText_.Reset();
    port_->Open();
    ShowStatus(tr("Opened %1 at %2.").arg(path, SettingsText(*port_)));
  } catch (const std::exception& error) {
    ShowStatus(tr("Cannot open %1: %2").arg(PortPath(), ErrorText(error)));
  }
  ShowState();
}

void LineMonitor::SendLine() {
  if (!port_->Active()) {
    ShowStatus(tr("Open a port first."));
    return;
  }
  QByteArray bytes;
  if (hexSend_->isChecked()) {
    const std::optional<QByteArray> typed = ParseHexBytes(sendEdit_->text());
    if (!typed) {
      ShowStatus(tr("Not hexadecimal bytes: %1").arg(sendEdit_->text()));
      return;
    }
    bytes = *typed;
  } else {
    bytes = (sendEdit_->text() + lineEnding_->currentData().toString()).toUtf8();
  }
  if (bytes.isEmpty()) return;
  try {
    port_->WriteString(bytes.toStdString());
    sendEdit_->clear();
  } catch (const std::exception& error) {
    ShowStatus(tr("Cannot send: %1").arg(ErrorText(error)));
  }
}

void LineMonitor::ShowSettings() {
  try {
    // The dialog reads the device's own default configuration first.
    if (!port_->Active()) port_->SetDeviceName(PortPath());
    if (port_->ConfigDialog()) ShowStatus(tr("Settings: %1.").arg(SettingsText(*port_)));
  } catch (const std::exception& error) {
    ShowStatus(tr("Settings: %1").arg(ErrorText(error)));
  }
  ShowSettingsLine();
}

void LineMonitor::ChangeRate(const QString& text) {
  bool number = false;
  const int rate = text.toInt(&number);
  if (!number || rate <= 0) {
    ShowStatus(tr("Not a rate: %1").arg(text));
  } else {
    try {
      // Applied to the open port at once, else at the next open.
      port_->SetCustomBaudRate(rate);
      ShowStatus(tr("Rate %1.").arg(rate));
    } catch (const std::exception& error) {
      ShowStatus(tr("Cannot change the rate: %1").arg(ErrorText(error)));
    }
  }
  ShowSettingsLine();
}

bool LineMonitor::StartCapture(const QString& path) {
  StopCapture();
  capture_.setFileName(path);
  // A new or regular file only: opening a FIFO nobody reads would block.
  const QFileInfo target(path);
  const bool regular = !target.exists() || target.isFile();
  const bool started = regular && capture_.open(QIODevice::WriteOnly | QIODevice::Truncate);
  const QString reason = regular ? capture_.errorString() : tr("not a regular file");
  ShowStatus(started ? tr("Capturing to %1.").arg(path) : tr("Cannot capture to %1: %2").arg(path, reason));
  ShowCapturing();
  return started;
}

void LineMonitor::StopCapture() {
  if (!capture_.isOpen()) return;
  capture_.close();
  ShowStatus(tr("Capture saved to %1.").arg(capture_.fileName()));
  ShowCapturing();
}

void LineMonitor::ShowCapturing() { SetQuietly(captureButton_, capture_.isOpen()); }

void LineMonitor::CaptureToggled(bool on) {
  if (!on) {
    StopCapture();
    return;
  }
  const QString path = QFileDialog::getSaveFileName(this, tr("Capture received bytes to"));
  if (path.isEmpty()) {
    ShowCapturing();
    return;
  }
  StartCapture(path);
}

bool LineMonitor::SendFile(const QString& path) {
  if (!port_->Active()) {
    ShowStatus(tr("Open a port first."));
    return false;
  }
  QString error;
  const bool started = fileSender_->Start(path, error);
  ShowStatus(started ? tr("Sending %1...").arg(QFileInfo(path).fileName())
                     : tr("Cannot send %1: %2").arg(path, error));
  ShowState();
  return started;
}

void LineMonitor::SendFileClicked() {
  if (fileSender_->Sending()) {
    fileSender_->Cancel();
    return;
  }
  const QString path = QFileDialog::getOpenFileName(this, tr("Send file"));
  if (!path.isEmpty()) SendFile(path);
}

void LineMonitor::PauseToggled(bool paused) {
  if (paused) return;
  // What came during the pause shows now.
  const QByteArray held = std::exchange(held_, QByteArray());
  ShowReceived(held);
}

void LineMonitor::Clear() {
  received_->clear();
  hexView_->clear();
  hexRows_.Reset();
  lineStamps_.Reset();
  held_.clear();
}

void LineMonitor::PortRxChar() {
  try {
    const std::string read = port_->ReadString();
    const QByteArrayView bytes(read.data(), static_cast<qsizetype>(read.size()));
    // A capture takes every byte, also while the view is paused.
    if (capture_.isOpen() && (capture_.write(bytes.data(), bytes.size()) != bytes.size() || !capture_.flush())) {
      ShowStatus(tr("Capture stopped: %1").arg(capture_.errorString()));
      capture_.close();
      ShowCapturing();
    }
    if (!pauseButton_->isChecked()) {
      ShowReceived(bytes);
      return;
    }
    held_.append(bytes);
    if (held_.size() > kMaxHeldBytes) held_.remove(0, held_.size() - kMaxHeldBytes);
    ShowStatus(tr("Paused; %n byte(s) held.", nullptr, static_cast<int>(held_.size())));
  } catch (const std::exception& error) {
    ShowStatus(tr("Cannot read: %1").arg(ErrorText(error)));
  }
}

void LineMonitor::ShowReceived(QByteArrayView bytes) {
  QString text = receivedText_.Take(bytes);
  if (timeStamps_->isChecked()) text = lineStamps_.Stamp(text, QTime::currentTime());
  AppendFollowing(received_, text);
  AppendFollowing(hexView_, hexRows_.Take(bytes));
}

void LineMonitor::PortLineError(TLineErrors errors) {
  const QByteArray names = QMetaEnum::fromType<TLineErrors>().valueToKeys(static_cast<int>(errors.toInt()));
  ShowStatus(tr("Line error: %1").arg(QString::fromLatin1(names)));
}

void LineMonitor::PortError(EComError& error) {
  // Also errors of the port's own event thread (a device pulled out).
  ShowStatus(tr("Port error: %1").arg(ErrorText(error)));
}

void LineMonitor::ShowState() {
  const bool open = port_->Active();
  const bool sending = fileSender_->Sending();
  openButton_->setText(open ? tr("Close") : tr("Open"));
  portBox_->setEnabled(!open);
  refreshButton_->setEnabled(!open);
  sendButton_->setEnabled(open);
  sendFileButton_->setEnabled(open);
  sendFileButton_->setText(sending ? tr("Cancel") : tr("Send file..."));
  sendProgress_->setVisible(sending);
  for (QPushButton* toggle : {dtrButton_, rtsButton_, breakButton_}) toggle->setEnabled(open);
  ShowSettingsLine();
}

void LineMonitor::ShowOpenedOrClosed() {
  // An open port starts with DTR and RTS raised unless its flow control
  // holds them low, and with no break.
  const bool open = port_->Active();
  SetQuietly(dtrButton_, open && port_->FlowControl()->DTR() != dcDisable);
  SetQuietly(rtsButton_, open && port_->FlowControl()->RTS() != rcDisable);
  SetQuietly(breakButton_, false);
  ShowState();
}

void LineMonitor::ShowSettingsLine() {
  settingsLine_->setText(SettingsText(*port_));
  const QSignalBlocker quiet(rateBox_);
  rateBox_->setEditText(QString::number(port_->CustomBaudRate()));
}

void LineMonitor::ShowStatus(const QString& text) { status_->setText(text); }
