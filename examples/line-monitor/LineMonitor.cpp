#include "LineMonitor.h"

#include <QComboBox>
#include <QEvent>
#include <QFont>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMetaEnum>
#include <QPalette>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QStringList>
#include <QTextBlock>
#include <QTextCursor>
#include <QVBoxLayout>
#include <cmath>

namespace {

// The lines the received view keeps; older ones are dropped.
constexpr int kHistoryLines = 10000;

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

}  // namespace

LineMonitor::LineMonitor(const QString& port, QWidget* parent) : QWidget(parent) {
  setWindowTitle(tr("Line monitor"));
  BuildPort();

  portBox_ = new QComboBox;
  portBox_->setEditable(true);
  portBox_->setInsertPolicy(QComboBox::NoInsert);
  portBox_->setMinimumContentsLength(28);
  portBox_->lineEdit()->setPlaceholderText(tr("port, e.g. /dev/ttyUSB0"));
  refreshButton_ = new QPushButton(tr("Refresh"));
  settingsButton_ = new QPushButton(tr("Settings..."));
  openButton_ = new QPushButton;
  auto* portRow = new QHBoxLayout;
  portRow->addWidget(new QLabel(tr("Port:")));
  portRow->addWidget(portBox_, 1);
  portRow->addWidget(refreshButton_);
  portRow->addWidget(settingsButton_);
  portRow->addWidget(openButton_);

  // One lamp per signal: pulses stay lit a little after their last event.
  auto* lampRow = new QWidget;
  auto* lampLayout = new QHBoxLayout(lampRow);
  lampLayout->setContentsMargins(0, 0, 0, 0);
  AddLamp(lampRow, siRxChar, tr("RX"), 100);
  AddLamp(lampRow, siTxChar, tr("TX"), 100);
  AddLamp(lampRow, siCTS, tr("CTS"), 0);
  AddLamp(lampRow, siDSR, tr("DSR"), 0);
  AddLamp(lampRow, siRLSD, tr("DCD"), 0);
  AddLamp(lampRow, siLineError, tr("ERR"), 1000);
  lampLayout->addStretch(1);

  received_ = new QPlainTextEdit;
  received_->setReadOnly(true);
  received_->setMaximumBlockCount(kHistoryLines);
  received_->setFont(QFont(QStringLiteral("monospace")));

  sendEdit_ = new QLineEdit;
  sendEdit_->setPlaceholderText(tr("text to send"));
  lineEnding_ = new QComboBox;
  lineEnding_->addItem(tr("CR LF"), QStringLiteral("\r\n"));
  lineEnding_->addItem(tr("CR"), QStringLiteral("\r"));
  lineEnding_->addItem(tr("LF"), QStringLiteral("\n"));
  lineEnding_->addItem(tr("none"), QString());
  sendButton_ = new QPushButton(tr("Send"));
  auto* sendRow = new QHBoxLayout;
  sendRow->addWidget(sendEdit_, 1);
  sendRow->addWidget(lineEnding_);
  sendRow->addWidget(sendButton_);

  status_ = new QLabel;
  status_->setTextInteractionFlags(Qt::TextSelectableByMouse);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(portRow);
  layout->addWidget(lampRow);
  layout->addWidget(received_, 1);
  layout->addLayout(sendRow);
  layout->addWidget(status_);

  connect(refreshButton_, &QPushButton::clicked, this, &LineMonitor::RefreshPorts);
  connect(settingsButton_, &QPushButton::clicked, this, &LineMonitor::ShowSettings);
  connect(openButton_, &QPushButton::clicked, this, &LineMonitor::OpenOrClose);
  connect(sendButton_, &QPushButton::clicked, this, &LineMonitor::SendLine);
  connect(sendEdit_, &QLineEdit::returnPressed, this, &LineMonitor::SendLine);

  RefreshPorts();
  if (!port.isEmpty()) portBox_->setEditText(port);
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
  port_->SetAfterOpen(TOpenCloseEvent::Bind([this](TCustomComPort*) { ShowState(); }));
  port_->SetAfterClose(TOpenCloseEvent::Bind([this](TCustomComPort*) { ShowState(); }));
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
  for (const QString& name : names) {
    const QString path = name.startsWith(u'/') ? name : QStringLiteral("/dev/") + name;
    const auto description = descriptions.find(name);
    portBox_->addItem(description == descriptions.end() ? path : path + QStringLiteral("  -  ") + description->second,
                      path);
  }
  if (!typed.isEmpty()) portBox_->setEditText(typed);
  ShowStatus(names.isEmpty() ? tr("No serial ports found; type a port's path.")
                             : tr("%n serial port(s) found.", nullptr, static_cast<int>(names.size())));
}

QString LineMonitor::PortPath() const {
  const QString text = portBox_->currentText().trimmed();
  // A listed entry carries its path; typed text is the path itself.
  const int index = portBox_->findText(text);
  if (index >= 0) return portBox_->itemData(index).toString();
  if (text.isEmpty() || text.startsWith(u'/') || text.startsWith(u'.')) return text;
  return QStringLiteral("/dev/") + text;
}

void LineMonitor::OpenOrClose() {
  try {
    if (port_->Active()) {
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
    ShowStatus(tr("Opened %1 at %2 baud.").arg(path).arg(port_->CustomBaudRate()));
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
  const QString text = sendEdit_->text() + lineEnding_->currentData().toString();
  if (text.isEmpty()) return;
  try {
    port_->WriteString(text.toUtf8().toStdString());
    sendEdit_->clear();
  } catch (const std::exception& error) {
    ShowStatus(tr("Cannot send: %1").arg(ErrorText(error)));
  }
}

void LineMonitor::ShowSettings() {
  try {
    // The dialog reads the device's own default configuration first.
    if (!port_->Active()) port_->SetDeviceName(PortPath());
    if (port_->ConfigDialog()) ShowStatus(tr("Settings: %1 baud.").arg(port_->CustomBaudRate()));
  } catch (const std::exception& error) {
    ShowStatus(tr("Settings: %1").arg(ErrorText(error)));
  }
}

void LineMonitor::PortRxChar() {
  try {
    const std::string bytes = port_->ReadString();
    ShowReceived(receivedText_.Take(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size()))));
  } catch (const std::exception& error) {
    ShowStatus(tr("Cannot read: %1").arg(ErrorText(error)));
  }
}

void LineMonitor::ShowReceived(const QString& text) {
  if (text.isEmpty()) return;
  // A view at the bottom follows the new text. One the user scrolled up
  // stays on the lines it shows, also when the oldest lines are dropped
  // above them: the block at its top is followed by a cursor through the
  // change. The text goes in through a cursor of its own, so the user's
  // cursor and selection stay too.
  QScrollBar* scroll = received_->verticalScrollBar();
  const bool following = scroll->value() == scroll->maximum();
  const QTextCursor top = received_->cursorForPosition(QPoint(0, 0));
  const int linesIntoTop = scroll->value() - top.block().firstLineNumber();
  QTextCursor end(received_->document());
  end.movePosition(QTextCursor::End);
  end.insertText(text);
  scroll->setValue(following ? scroll->maximum() : top.block().firstLineNumber() + linesIntoTop);
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
  openButton_->setText(open ? tr("Close") : tr("Open"));
  portBox_->setEnabled(!open);
  refreshButton_->setEnabled(!open);
  sendButton_->setEnabled(open);
}

void LineMonitor::ShowStatus(const QString& text) { status_->setText(text); }
