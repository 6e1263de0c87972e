// Settings of the port and their translation into the driver's device
// control block, queue sizes and timeouts.
#include <array>
#include <cstring>
#include <optional>

#include "comport/Comport.h"

namespace {

// Lookup tables by ordinal.
constexpr std::array<uint32_t, 27> kBaudRates = {0,     50,    75,    110,   150,   300,    600,    1200,   1800,
                                                 2000,  2400,  3600,  4800,  7200,  9600,   10400,  14400,  15625,
                                                 19200, 28800, 38400, 56000, 57600, 115200, 128000, 256000, 0};
constexpr std::array<uint8_t, 7> kDataBits = {0, 4, 5, 6, 7, 8, 9};
constexpr std::array<uint8_t, 6> kParity = {0, 0, 1, 2, 3, 4};
constexpr std::array<uint8_t, 4> kStopBits = {0, 0, 1, 2};
constexpr std::array<uint32_t, 8> kOptionFlags = {
    platform::fParity,           platform::fOutxCtsFlow, platform::fOutxDsrFlow, platform::fDsrSensitivity,
    platform::fTXContinueOnXoff, platform::fErrorChar,   platform::fNull,        platform::fAbortOnError};
constexpr std::array<uint32_t, 4> kDTRControl = {0, platform::DTR_CONTROL_DISABLE, platform::DTR_CONTROL_ENABLE,
                                                 platform::DTR_CONTROL_HANDSHAKE};
constexpr std::array<uint32_t, 5> kRTSControl = {0, platform::RTS_CONTROL_DISABLE, platform::RTS_CONTROL_ENABLE,
                                                 platform::RTS_CONTROL_HANDSHAKE, platform::RTS_CONTROL_TOGGLE};
constexpr uint32_t kXOnXOffMask = platform::fInX | platform::fOutX;
constexpr std::array<uint32_t, 5> kXOnXOffControl = {0, 0, platform::fInX, platform::fOutX,
                                                     platform::fInX | platform::fOutX};

// The first ordinal whose table value is 'value'; none when no entry has it.
template <class Table, class Value>
std::optional<int> FirstOrdinal(const Table& table, Value value) {
  for (std::size_t i = 0; i < table.size(); ++i)
    if (table[i] == value) return static_cast<int>(i);
  return std::nullopt;
}

// Replaces the bits of 'mask' in the flag word with 'bits'.
void SetField(uint32_t& flags, uint32_t mask, uint32_t bits) { flags = (flags & ~mask) | bits; }

}  // namespace

// ---- settings groups -------------------------------------------------------

TFlowControl::TFlowControl(TCustomComPort* comPort) : FComPort(comPort) {}

void TFlowControl::SetDTRControl(TDTRControl value) {
  if (value == FDTR) return;
  FDTR = value;
  FComPort->SetComDCB();
}

void TFlowControl::SetRTSControl(TRTSControl value) {
  if (value == FRTS) return;
  FRTS = value;
  FComPort->SetComDCB();
}

void TFlowControl::SetXOnXOffControl(TXOnXOffControl value) {
  if (value == FXOnXOff) return;
  FXOnXOff = value;
  FComPort->SetComDCB();
}

void TFlowControl::SetXOnLimit(quint16 value) {
  if (value == FXOnLimit) return;
  FXOnLimit = value;
  FComPort->SetComDCB();
}

void TFlowControl::SetXOffLimit(quint16 value) {
  if (value == FXOffLimit) return;
  FXOffLimit = value;
  FComPort->SetComDCB();
}

TCharacters::TCharacters(TCustomComPort* comPort) : FComPort(comPort) {}

void TCharacters::Change(quint8& field, quint8 value) {
  if (value == field) return;
  field = value;
  FComPort->SetComDCB();
}

void TCharacters::SetXOn(quint8 value) { Change(FXOn, value); }
void TCharacters::SetXOff(quint8 value) { Change(FXOff, value); }
void TCharacters::SetError(quint8 value) { Change(FError, value); }
void TCharacters::SetEof(quint8 value) { Change(FEof, value); }
void TCharacters::SetEvent(quint8 value) { Change(FEvent, value); }

TBufferSizes::TBufferSizes(TCustomComPort* comPort) : FComPort(comPort) {}

void TBufferSizes::Change(qint32& field, qint32 value) {
  if (value == field) return;
  field = value;
  FComPort->SetComBufferSizes();
}

void TBufferSizes::SetInput(qint32 value) { Change(FInput, value); }
void TBufferSizes::SetOutput(qint32 value) { Change(FOutput, value); }

TTimeouts::TTimeouts(TCustomComPort* comPort) : FComPort(comPort) {}

void TTimeouts::Change(qint32& field, qint32 value) {
  if (value == field) return;
  field = value;
  FComPort->SetComTimeouts();
}

void TTimeouts::SetReadInterval(qint32 value) { Change(FReadInterval, value); }
void TTimeouts::SetReadMultiplier(qint32 value) { Change(FReadMultiplier, value); }
void TTimeouts::SetReadConstant(qint32 value) { Change(FReadConstant, value); }
void TTimeouts::SetWriteMultiplier(qint32 value) { Change(FWriteMultiplier, value); }
void TTimeouts::SetWriteConstant(qint32 value) { Change(FWriteConstant, value); }

// ---- settings of the port --------------------------------------------------

void TCustomComPort::SetBaudRate(TBaudRate value) {
  if (value == FBaudRate) return;
  FBaudRate = value;
  SetComDCB();
}

qint32 TCustomComPort::CustomBaudRate() const {
  if (FBaudRate == brCustom) return FCustomBaudRate;
  return static_cast<qint32>(kBaudRates.at(static_cast<std::size_t>(FBaudRate)));
}

void TCustomComPort::SetCustomBaudRate(qint32 value) {
  // Compared with the stored custom rate, not with the rate in effect.
  if (value == FCustomBaudRate) return;
  FCustomBaudRate = value;
  FBaudRate = brCustom;
  SetComDCB();
}

void TCustomComPort::SetDataBits(TDataBits value) {
  if (value == FDataBits) return;
  FDataBits = value;
  SetComDCB();
}

void TCustomComPort::SetParity(TParity value) {
  if (value == FParity) return;
  FParity = value;
  SetComDCB();
}

void TCustomComPort::SetStopBits(TStopBits value) {
  if (value == FStopBits) return;
  FStopBits = value;
  SetComDCB();
}

void TCustomComPort::SetOptions(TOptions value) {
  if (value == FOptions) return;
  FOptions = value;
  SetComDCB();
}

void TCustomComPort::SetFlowControl(const TFlowControl* source) {
  if (source != nullptr && source != FFlowControl.get()) FFlowControl->Assign(*source);
}

void TCustomComPort::SetCharacters(const TCharacters* source) {
  if (source != nullptr && source != FCharacters.get()) FCharacters->Assign(*source);
}

void TCustomComPort::SetBufferSizes(const TBufferSizes* source) {
  if (source != nullptr && source != FBufferSizes.get()) FBufferSizes->Assign(*source);
}

void TCustomComPort::SetTimeouts(const TTimeouts* source) {
  if (source != nullptr && source != FTimeouts.get()) FTimeouts->Assign(*source);
}

// ---- device control block --------------------------------------------------

void TCustomComPort::CopyDCB(platform::DCB& dcb, bool toDcb) {
  if (toDcb) {
    // Only what is not at its default replaces the driver's value; the
    // characters, the limits and the option flags are always written.
    if (FBaudRate != brDefault) dcb.BaudRate = static_cast<uint32_t>(CustomBaudRate());
    if (FDataBits != dbDefault) dcb.ByteSize = kDataBits.at(FDataBits);
    if (FParity != paDefault) dcb.Parity = kParity.at(FParity);
    if (FStopBits != sbDefault) dcb.StopBits = kStopBits.at(FStopBits);
    dcb.XonChar = static_cast<char>(FCharacters->XOn());
    dcb.XoffChar = static_cast<char>(FCharacters->XOff());
    dcb.ErrorChar = static_cast<char>(FCharacters->Error());
    dcb.EofChar = static_cast<char>(FCharacters->Eof());
    dcb.EvtChar = static_cast<char>(FCharacters->Event());
    if (FFlowControl->DTR() != dcDefault)
      SetField(dcb.Flags, platform::fDtrControlMask, kDTRControl.at(FFlowControl->DTR()));
    if (FFlowControl->RTS() != rcDefault)
      SetField(dcb.Flags, platform::fRtsControlMask, kRTSControl.at(FFlowControl->RTS()));
    if (FFlowControl->XOnXOff() != xcDefault)
      SetField(dcb.Flags, kXOnXOffMask, kXOnXOffControl.at(FFlowControl->XOnXOff()));
    dcb.XonLim = FFlowControl->XOnLimit();
    dcb.XoffLim = FFlowControl->XOffLimit();
    for (std::size_t i = 0; i < kOptionFlags.size(); ++i)
      SetField(dcb.Flags, kOptionFlags[i], FOptions.testFlag(TOption(1u << i)) ? kOptionFlags[i] : 0);
    dcb.Flags |= platform::fBinary;
    return;
  }

  // Back into the settings. The rate, the characters and the limits go
  // through their setters; the rest is stored directly and applied by the
  // caller once the copy is done.
  SetCustomBaudRate(static_cast<qint32>(dcb.BaudRate));
  if (auto o = FirstOrdinal(kDataBits, dcb.ByteSize)) FDataBits = TDataBits(*o);
  if (auto o = FirstOrdinal(kParity, dcb.Parity)) FParity = TParity(*o);
  if (auto o = FirstOrdinal(kStopBits, dcb.StopBits)) FStopBits = TStopBits(*o);
  FCharacters->SetXOn(static_cast<quint8>(dcb.XonChar));
  FCharacters->SetXOff(static_cast<quint8>(dcb.XoffChar));
  FCharacters->SetError(static_cast<quint8>(dcb.ErrorChar));
  FCharacters->SetEof(static_cast<quint8>(dcb.EofChar));
  FCharacters->SetEvent(static_cast<quint8>(dcb.EvtChar));
  if (auto o = FirstOrdinal(kDTRControl, dcb.Flags & platform::fDtrControlMask)) FFlowControl->FDTR = TDTRControl(*o);
  if (auto o = FirstOrdinal(kRTSControl, dcb.Flags & platform::fRtsControlMask)) FFlowControl->FRTS = TRTSControl(*o);
  if (auto o = FirstOrdinal(kXOnXOffControl, dcb.Flags & kXOnXOffMask)) FFlowControl->FXOnXOff = TXOnXOffControl(*o);
  FFlowControl->SetXOnLimit(dcb.XonLim);
  FFlowControl->SetXOffLimit(dcb.XoffLim);
  TOptions options;
  for (std::size_t i = 0; i < kOptionFlags.size(); ++i)
    if (dcb.Flags & kOptionFlags[i]) options |= TOption(1u << i);
  FOptions = options;
}

void TCustomComPort::SetComDCB() {
  if (!IsOpen() || Designing()) return;
  platform::DCB dcb;
  std::memset(&dcb, 0, sizeof dcb);
  dcb.DCBlength = sizeof dcb;
  Check(FDeviceHandle->GetCommState(dcb));
  CopyDCB(dcb, true);
  Check(FDeviceHandle->SetCommState(dcb));
}

void TCustomComPort::SetComBufferSizes() {
  if (!IsOpen() || Designing()) return;
  Check(FDeviceHandle->SetupComm(static_cast<uint32_t>(FBufferSizes->Input()),
                                 static_cast<uint32_t>(FBufferSizes->Output())));
}

void TCustomComPort::SetComTimeouts() {
  if (!IsOpen() || Designing()) return;
  platform::COMMTIMEOUTS timeouts;
  Check(FDeviceHandle->GetCommTimeouts(timeouts));
  timeouts.ReadIntervalTimeout = static_cast<uint32_t>(FTimeouts->ReadInterval());
  timeouts.ReadTotalTimeoutMultiplier = static_cast<uint32_t>(FTimeouts->ReadMultiplier());
  timeouts.ReadTotalTimeoutConstant = static_cast<uint32_t>(FTimeouts->ReadConstant());
  timeouts.WriteTotalTimeoutMultiplier = static_cast<uint32_t>(FTimeouts->WriteMultiplier());
  timeouts.WriteTotalTimeoutConstant = static_cast<uint32_t>(FTimeouts->WriteConstant());
  Check(FDeviceHandle->SetCommTimeouts(timeouts));
}
