#include "comport/CommConfigDialog.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFormLayout>
#include <QIntValidator>
#include <QLineEdit>
#include <QPushButton>
#include <climits>
#include <cstdint>
#include <initializer_list>
#include <utility>

#include "framework/Thread.h"

namespace {

using platform::DCB;

// The rates offered in the list; any other positive rate can be typed.
constexpr int kListedRates[] = {110,   300,   600,   1200,  2400,   4800,   9600,   14400,  19200,
                                38400, 57600, 115200, 230400, 460800, 921600};

QComboBox* NewCombo(const char* objectName, QWidget* parent) {
  auto* combo = new QComboBox(parent);
  combo->setObjectName(QString::fromLatin1(objectName));
  return combo;
}

// Fills 'combo' with the choices and selects the one whose value is
// 'current'; a value none of them has is added as its number, so an
// unchanged dialog gives it back.
void Choose(QComboBox* combo, std::initializer_list<std::pair<QString, int>> choices, int current) {
  for (const auto& [text, value] : choices) combo->addItem(text, value);
  int index = combo->findData(current);
  if (index < 0) {
    combo->addItem(QString::number(current), current);
    index = combo->count() - 1;
  }
  combo->setCurrentIndex(index);
}

uint32_t Handshake(uint32_t flags, uint32_t mask, uint32_t handshake, uint32_t raised) {
  return (flags & mask) == handshake ? (flags & ~mask) | raised : flags;
}

}  // namespace

TCommConfigDialog::TCommConfigDialog(const QString& deviceName, const DCB& dcb, QWidget* owner)
    : QDialog(owner), dcb_(dcb) {
  setObjectName(QStringLiteral("commConfigDialog"));
  setWindowTitle(tr("Settings of %1").arg(deviceName));
  setModal(true);

  baudRate_ = NewCombo("baudRate", this);
  baudRate_->setEditable(true);
  baudRate_->setInsertPolicy(QComboBox::NoInsert);
  baudRate_->setValidator(new QIntValidator(1, INT_MAX, baudRate_));
  for (const int rate : kListedRates) baudRate_->addItem(QString::number(rate), rate);
  const int listed = baudRate_->findData(static_cast<int>(dcb.BaudRate));
  if (listed >= 0 && dcb.BaudRate <= INT_MAX)
    baudRate_->setCurrentIndex(listed);
  else
    baudRate_->setEditText(QString::number(dcb.BaudRate));

  dataBits_ = NewCombo("dataBits", this);
  Choose(dataBits_, {{"5", 5}, {"6", 6}, {"7", 7}, {"8", 8}}, dcb.ByteSize);
  parity_ = NewCombo("parity", this);
  Choose(parity_, {{tr("None"), 0}, {tr("Odd"), 1}, {tr("Even"), 2}, {tr("Mark"), 3}, {tr("Space"), 4}},
         dcb.Parity);
  stopBits_ = NewCombo("stopBits", this);
  Choose(stopBits_, {{"1", 0}, {"1.5", 1}, {"2", 2}}, dcb.StopBits);
  flowControl_ = NewCombo("flowControl", this);
  flowControl_->addItem(tr("None"), kFlowNone);
  flowControl_->addItem(tr("XON/XOFF"), kFlowXOnXOff);
  flowControl_->addItem(tr("Hardware (RTS/CTS)"), kFlowRtsCts);
  if (FlowOf(dcb.Flags) == kFlowAsIs) flowControl_->addItem(tr("As configured"), kFlowAsIs);
  flowControl_->setCurrentIndex(flowControl_->findData(FlowOf(dcb.Flags)));

  buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons_->setObjectName(QStringLiteral("buttons"));
  connect(buttons_, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(baudRate_, &QComboBox::editTextChanged, this, &TCommConfigDialog::UpdateAcceptable);

  auto* form = new QFormLayout(this);
  form->addRow(tr("&Bits per second:"), baudRate_);
  form->addRow(tr("&Data bits:"), dataBits_);
  form->addRow(tr("&Parity:"), parity_);
  form->addRow(tr("&Stop bits:"), stopBits_);
  form->addRow(tr("&Flow control:"), flowControl_);
  form->addRow(buttons_);
  UpdateAcceptable();
}

std::optional<uint32_t> TCommConfigDialog::EnteredRate() const {
  bool ok = false;
  const int rate = baudRate_->currentText().trimmed().toInt(&ok);
  if (!ok || rate <= 0) return std::nullopt;
  return static_cast<uint32_t>(rate);
}

// OK only while the rate is a positive number of bits per second.
void TCommConfigDialog::UpdateAcceptable() {
  buttons_->button(QDialogButtonBox::Ok)->setEnabled(EnteredRate().has_value());
}

DCB TCommConfigDialog::Dcb() const {
  DCB dcb = dcb_;
  if (const auto rate = EnteredRate()) dcb.BaudRate = *rate;
  dcb.ByteSize = static_cast<uint8_t>(dataBits_->currentData().toInt());
  dcb.Parity = static_cast<uint8_t>(parity_->currentData().toInt());
  dcb.StopBits = static_cast<uint8_t>(stopBits_->currentData().toInt());
  const auto flow = static_cast<FlowChoice>(flowControl_->currentData().toInt());
  dcb.Flags = WithFlow(dcb.Flags, flow);  // "As configured" keeps them
  return dcb;
}

TCommConfigDialog::FlowChoice TCommConfigDialog::FlowOf(uint32_t flags) {
  using namespace platform;
  const bool rtsHandshake = (flags & fRtsControlMask) == RTS_CONTROL_HANDSHAKE;
  const bool dtrHandshake = (flags & fDtrControlMask) == DTR_CONTROL_HANDSHAKE;
  const bool cts = (flags & fOutxCtsFlow) != 0;
  const uint32_t xon = flags & (fOutX | fInX);
  if ((flags & fOutxDsrFlow) || dtrHandshake) return kFlowAsIs;  // not offered
  if (!cts && !rtsHandshake) {
    if (xon == 0) return kFlowNone;
    if (xon == (fOutX | fInX)) return kFlowXOnXOff;
    return kFlowAsIs;  // one direction only
  }
  return cts && rtsHandshake && xon == 0 ? kFlowRtsCts : kFlowAsIs;
}

uint32_t TCommConfigDialog::WithFlow(uint32_t flags, FlowChoice choice) {
  using namespace platform;
  if (choice == kFlowAsIs) return flags;
  flags &= ~(fOutxCtsFlow | fOutxDsrFlow | fOutX | fInX);
  flags = Handshake(flags, fRtsControlMask, RTS_CONTROL_HANDSHAKE, RTS_CONTROL_ENABLE);
  flags = Handshake(flags, fDtrControlMask, DTR_CONTROL_HANDSHAKE, DTR_CONTROL_ENABLE);
  if (choice == kFlowXOnXOff) flags |= fOutX | fInX;
  if (choice == kFlowRtsCts) flags = (flags & ~fRtsControlMask) | fOutxCtsFlow | RTS_CONTROL_HANDSHAKE;
  return flags;
}

namespace {

// The system's dialog where it has one, else ours (which needs a widget
// application). The owner goes to the system as its native window, when
// it has one (never made here: that would change the window).
bool ShowCommConfigDialog(const std::string& name, QWidget* owner, platform::COMMCONFIG& config) {
  const std::uintptr_t ownerWindow =
      owner != nullptr ? static_cast<std::uintptr_t>(owner->window()->internalWinId()) : 0;
  switch (platform::ShowSystemCommConfigDialog(name, ownerWindow, config)) {
    case platform::SystemCommConfigDialog::kConfirmed:
      return true;
    case platform::SystemCommConfigDialog::kCancelled:
      return false;
    case platform::SystemCommConfigDialog::kNone:
      break;
  }
  if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) return false;
  TCommConfigDialog dialog(QFile::decodeName(QByteArray::fromStdString(name)), config.dcb, owner);
  if (dialog.exec() != QDialog::Accepted) return false;
  config.dcb = dialog.Dcb();
  return true;
}

}  // namespace

bool CommConfigDialog(const std::string& name, QWidget* owner, platform::COMMCONFIG& config) {
  // Without an application object there is no user-interface thread to go
  // to; only the system's dialog can be shown then, here.
  if (QCoreApplication::instance() == nullptr) return ShowCommConfigDialog(name, owner, config);
  // Dialogs live on the user-interface thread only: asked for on another
  // thread, the dialog runs there and this thread waits for its answer.
  bool confirmed = false;
  TThread::Synchronize([&] { confirmed = ShowCommConfigDialog(name, owner, config); });
  return confirmed;
}
