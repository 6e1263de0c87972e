// The serial configuration dialog: the system's own where it has one, else
// a modal dialog of ours that edits the line settings and the flow control
// of a configuration record's device control block for one device. What it
// does not offer stays as it was.
#pragma once

#include <QDialog>
#include <optional>
#include <string>

#include "platform/CommConfig.h"

class QComboBox;
class QDialogButtonBox;

class TCommConfigDialog : public QDialog {
  Q_OBJECT

 public:
  // The flow-control choices; kFlowAsIs stands for a combination of flags
  // that none of the others names, and keeps it.
  enum FlowChoice { kFlowAsIs = -1, kFlowNone, kFlowXOnXOff, kFlowRtsCts };

  TCommConfigDialog(const QString& deviceName, const platform::DCB& dcb, QWidget* owner = nullptr);

  // The block as edited (the one given, with the dialog's fields put in).
  platform::DCB Dcb() const;

  // The flow-control choice that names the block's flags.
  static FlowChoice FlowOf(uint32_t flags);
  // The flags with 'choice' put in: flow control by CTS/RTS, by DSR/DTR and
  // by XON/XOFF cleared or set, a handshake line left raised.
  static uint32_t WithFlow(uint32_t flags, FlowChoice choice);

 private:
  void UpdateAcceptable();
  std::optional<uint32_t> EnteredRate() const;

  platform::DCB dcb_;
  QComboBox* baudRate_;
  QComboBox* dataBits_;
  QComboBox* parity_;
  QComboBox* stopBits_;
  QComboBox* flowControl_;
  QDialogButtonBox* buttons_;
};

// Shows the system's serial configuration dialog for 'name' on 'config',
// owned by 'owner' (none: application modal), or this one where the system
// has none. True when the user confirmed; only then is the record's block
// changed. Without a widget application this dialog cannot be shown:
// false. Called on another thread, the dialog shows on the user-interface
// thread and the caller waits for it (TThread::Synchronize).
bool CommConfigDialog(const std::string& name, QWidget* owner, platform::COMMCONFIG& config);
