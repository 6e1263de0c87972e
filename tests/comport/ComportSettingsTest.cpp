// Settings of the port and their translation into the device control block.
#include <QMetaEnum>
#include <QMetaProperty>
#include <functional>

#include "ComportTestSupport.h"

using namespace comporttest;
using platform::DCB;

namespace {

// What a driver reports before the component writes anything: every field
// away from what the component would write, all flag bits set.
DCB DriverBlock() {
  DCB dcb;
  dcb.BaudRate = 4800;
  dcb.Flags = 0x7FFF;
  dcb.wReserved = 0x1234;
  dcb.XonLim = 99;
  dcb.XoffLim = 98;
  dcb.ByteSize = 7;
  dcb.Parity = 2;
  dcb.StopBits = 2;
  dcb.XonChar = 1;
  dcb.XoffChar = 2;
  dcb.ErrorChar = 3;
  dcb.EofChar = 4;
  dcb.EvtChar = 5;
  dcb.wReserved1 = 0x5678;
  return dcb;
}

DCB Written(TComPort& port, DCB dcb = DriverBlock()) {
  port.CopyDCB(dcb, true);
  return dcb;
}

constexpr uint32_t kOptionBits = 0x0002 | 0x0004 | 0x0008 | 0x0040 | 0x0080 | 0x0400 | 0x0800 | 0x4000;

}  // namespace

TEST(ComportSettings, DefaultsKeepTheDriversLineSettingsButWriteCharactersLimitsAndOptions) {
  TComPort port;
  const DCB dcb = Written(port);
  EXPECT_EQ(dcb.BaudRate, 4800u);
  EXPECT_EQ(dcb.ByteSize, 7);
  EXPECT_EQ(dcb.Parity, 2);
  EXPECT_EQ(dcb.StopBits, 2);
  // DTR, RTS and XON/XOFF modes and the other flag bits stay; the eight
  // option flags are cleared; fBinary is set.
  EXPECT_EQ(dcb.Flags, 0x7FFFu & ~kOptionBits);
  EXPECT_EQ(dcb.XonChar, 17);
  EXPECT_EQ(dcb.XoffChar, 19);
  EXPECT_EQ(dcb.ErrorChar, 0);
  EXPECT_EQ(dcb.EofChar, 0);
  EXPECT_EQ(dcb.EvtChar, 0);
  EXPECT_EQ(dcb.XonLim, 0);
  EXPECT_EQ(dcb.XoffLim, 0);
  EXPECT_EQ(dcb.DCBlength, 28u);
  EXPECT_EQ(dcb.wReserved, 0x1234);
  EXPECT_EQ(dcb.wReserved1, 0x5678);

  DCB cleared = DriverBlock();
  cleared.Flags = 0;
  EXPECT_EQ(Written(port, cleared).Flags, platform::fBinary);
}

TEST(ComportSettings, LineSettingsOfTheGateway) {
  TComPort port;
  port.SetBaudRate(br115200);
  port.SetDataBits(db8);
  port.SetParity(paNone);
  port.SetStopBits(sb1);
  const DCB dcb = Written(port);
  EXPECT_EQ(dcb.BaudRate, 115200u);
  EXPECT_EQ(dcb.ByteSize, 8);
  EXPECT_EQ(dcb.Parity, 0);
  EXPECT_EQ(dcb.StopBits, 0);
}

TEST(ComportSettings, EachSettingWritesItsField) {
  struct Case {
    const char* name;
    std::function<void(TComPort&)> set;
    std::function<uint32_t(const DCB&)> field;
    uint32_t expected;
  };
  const auto flags = [](uint32_t mask) { return [mask](const DCB& d) { return d.Flags & mask; }; };
  const auto rate = [](const DCB& d) { return d.BaudRate; };
  const Case cases[] = {
      {"br50", [](TComPort& p) { p.SetBaudRate(br50); }, rate, 50},
      {"br256000", [](TComPort& p) { p.SetBaudRate(br256000); }, rate, 256000},
      {"brCustom with 0", [](TComPort& p) { p.SetBaudRate(brCustom); }, rate, 0},
      {"custom 250000", [](TComPort& p) { p.SetCustomBaudRate(250000); }, rate, 250000},
      {"db5", [](TComPort& p) { p.SetDataBits(db5); }, [](const DCB& d) -> uint32_t { return d.ByteSize; }, 5},
      {"db9", [](TComPort& p) { p.SetDataBits(db9); }, [](const DCB& d) -> uint32_t { return d.ByteSize; }, 9},
      {"paMark", [](TComPort& p) { p.SetParity(paMark); }, [](const DCB& d) -> uint32_t { return d.Parity; }, 3},
      {"paSpace", [](TComPort& p) { p.SetParity(paSpace); }, [](const DCB& d) -> uint32_t { return d.Parity; }, 4},
      {"sb1_5", [](TComPort& p) { p.SetStopBits(sb1_5); }, [](const DCB& d) -> uint32_t { return d.StopBits; }, 1},
      {"sb2", [](TComPort& p) { p.SetStopBits(sb2); }, [](const DCB& d) -> uint32_t { return d.StopBits; }, 2},
      {"dcDisable", [](TComPort& p) { p.FlowControl()->SetDTRControl(dcDisable); }, flags(0x0030), 0x0000},
      {"dcHandshake", [](TComPort& p) { p.FlowControl()->SetDTRControl(dcHandshake); }, flags(0x0030), 0x0020},
      {"rcEnable", [](TComPort& p) { p.FlowControl()->SetRTSControl(rcEnable); }, flags(0x3000), 0x1000},
      {"rcToggle", [](TComPort& p) { p.FlowControl()->SetRTSControl(rcToggle); }, flags(0x3000), 0x3000},
      {"xcDisable", [](TComPort& p) { p.FlowControl()->SetXOnXOffControl(xcDisable); }, flags(0x0300), 0x0000},
      {"xcInput", [](TComPort& p) { p.FlowControl()->SetXOnXOffControl(xcInput); }, flags(0x0300), 0x0200},
      {"xcOutput", [](TComPort& p) { p.FlowControl()->SetXOnXOffControl(xcOutput); }, flags(0x0300), 0x0100},
      {"xcInputOutput", [](TComPort& p) { p.FlowControl()->SetXOnXOffControl(xcInputOutput); }, flags(0x0300), 0x0300},
      {"XOnLimit", [](TComPort& p) { p.FlowControl()->SetXOnLimit(512); },
       [](const DCB& d) -> uint32_t { return d.XonLim; }, 512},
      {"Event char", [](TComPort& p) { p.Characters()->SetEvent(0x0A); },
       [](const DCB& d) -> uint32_t { return static_cast<uint8_t>(d.EvtChar); }, 0x0A},
      {"Error char 0xFF", [](TComPort& p) { p.Characters()->SetError(0xFF); },
       [](const DCB& d) -> uint32_t { return static_cast<uint8_t>(d.ErrorChar); }, 0xFF},
      {"options", [](TComPort& p) { p.SetOptions(opCheckParity | opTXContinueOnXOff | opAbortOnError); },
       flags(kOptionBits), 0x0002 | 0x0080 | 0x4000},
      {"all options", [](TComPort& p) { p.SetOptions(TOptions(0xFF)); }, flags(kOptionBits), kOptionBits},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TComPort port;
    c.set(port);
    // From a block with all flag bits set and from one with none set.
    DCB none = DriverBlock();
    none.Flags = 0;
    EXPECT_EQ(c.field(Written(port)), c.expected);
    EXPECT_EQ(c.field(Written(port, none)), c.expected);
  }
}

TEST(ComportSettings, CustomBaudRateFollowsTheStoredRate) {
  TComPort port;
  EXPECT_EQ(port.CustomBaudRate(), 0);
  port.SetBaudRate(br9600);
  EXPECT_EQ(port.CustomBaudRate(), 9600);

  port.SetCustomBaudRate(19200);
  EXPECT_EQ(port.BaudRate(), brCustom);
  EXPECT_EQ(port.CustomBaudRate(), 19200);
  EXPECT_TRUE(port.StoreCustomBaudRate());

  port.SetBaudRate(br9600);
  EXPECT_EQ(port.CustomBaudRate(), 9600);
  EXPECT_FALSE(port.StoreCustomBaudRate());
  // The stored 19200 is still there: setting it again changes nothing.
  port.SetCustomBaudRate(19200);
  EXPECT_EQ(port.BaudRate(), br9600);
  port.SetBaudRate(brCustom);
  EXPECT_EQ(port.CustomBaudRate(), 19200);
}

TEST(ComportSettings, ReadingABlockBackChoosesTheFirstMatchingMembers) {
  TComPort port;
  port.SetDataBits(db5);
  port.FlowControl()->SetDTRControl(dcHandshake);
  DCB dcb;
  dcb.BaudRate = 9600;
  dcb.ByteSize = 8;
  dcb.Parity = 0;
  dcb.StopBits = 0;
  dcb.Flags = platform::fBinary | platform::fParity | platform::fNull;  // DTR, RTS disabled; no XON/XOFF
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;
  dcb.EvtChar = 0x0D;
  dcb.XonLim = 100;
  dcb.XoffLim = 200;
  port.CopyDCB(dcb, false);

  EXPECT_EQ(port.BaudRate(), brCustom);
  EXPECT_EQ(port.CustomBaudRate(), 9600);
  EXPECT_EQ(port.DataBits(), db8);
  EXPECT_EQ(port.Parity(), paDefault);
  EXPECT_EQ(port.StopBits(), sbDefault);
  EXPECT_EQ(port.FlowControl()->DTR(), dcDefault);
  EXPECT_EQ(port.FlowControl()->RTS(), rcDefault);
  EXPECT_EQ(port.FlowControl()->XOnXOff(), xcDefault);
  EXPECT_EQ(port.FlowControl()->XOnLimit(), 100);
  EXPECT_EQ(port.FlowControl()->XOffLimit(), 200);
  EXPECT_EQ(port.Characters()->Event(), 0x0D);
  EXPECT_EQ(port.Options(), opCheckParity | opDiscardNullBytes);

  // Values that name no member leave the setting alone; a rate equal to the
  // stored custom rate leaves BaudRate alone.
  port.SetBaudRate(br57600);
  port.SetDataBits(db6);
  port.FlowControl()->SetDTRControl(dcEnable);
  dcb.ByteSize = 3;
  dcb.Flags = 0x0030 | platform::RTS_CONTROL_TOGGLE | platform::fInX;
  dcb.Parity = 4;
  dcb.StopBits = 1;
  port.CopyDCB(dcb, false);
  EXPECT_EQ(port.BaudRate(), br57600);
  EXPECT_EQ(port.DataBits(), db6);
  EXPECT_EQ(port.FlowControl()->DTR(), dcEnable);
  EXPECT_EQ(port.FlowControl()->RTS(), rcToggle);
  EXPECT_EQ(port.FlowControl()->XOnXOff(), xcInput);
  EXPECT_EQ(port.Parity(), paSpace);
  EXPECT_EQ(port.StopBits(), sb1_5);
  EXPECT_EQ(port.Options(), TOptions());
}

TEST(ComportSettings, AChangeReachesAnOpenDeviceAtOnceAndTheSameValueMakesNoCall) {
  FakePort f;
  f.port.Open();
  ASSERT_TRUE(f.port.Active());
  FakeSerialDevice& dev = *f.device;

  // Every setting given its current value: no driver call at all.
  dev.ClearCallLog();
  TComPort& p = f.port;
  p.SetBaudRate(p.BaudRate());
  p.SetCustomBaudRate(p.CustomBaudRate());
  p.SetDataBits(p.DataBits());
  p.SetParity(p.Parity());
  p.SetStopBits(p.StopBits());
  p.SetOptions(p.Options());
  p.SetDeviceName(p.DeviceName());
  p.SetPriorityClass(p.PriorityClass());
  p.SetSynchronizeEvents(p.SynchronizeEvents());
  p.FlowControl()->SetDTRControl(p.FlowControl()->DTR());
  p.FlowControl()->SetRTSControl(p.FlowControl()->RTS());
  p.FlowControl()->SetXOnXOffControl(p.FlowControl()->XOnXOff());
  p.FlowControl()->SetXOnLimit(p.FlowControl()->XOnLimit());
  p.FlowControl()->SetXOffLimit(p.FlowControl()->XOffLimit());
  p.Characters()->SetXOn(p.Characters()->XOn());
  p.Characters()->SetXOff(p.Characters()->XOff());
  p.Characters()->SetError(p.Characters()->Error());
  p.Characters()->SetEof(p.Characters()->Eof());
  p.Characters()->SetEvent(p.Characters()->Event());
  p.BufferSizes()->SetInput(p.BufferSizes()->Input());
  p.BufferSizes()->SetOutput(p.BufferSizes()->Output());
  p.Timeouts()->SetReadInterval(p.Timeouts()->ReadInterval());
  p.Timeouts()->SetReadMultiplier(p.Timeouts()->ReadMultiplier());
  p.Timeouts()->SetReadConstant(p.Timeouts()->ReadConstant());
  p.Timeouts()->SetWriteMultiplier(p.Timeouts()->WriteMultiplier());
  p.Timeouts()->SetWriteConstant(p.Timeouts()->WriteConstant());
  EXPECT_TRUE(dev.CallLog().empty());

  // Changes: read, adjust and write back the block; the queue sizes; the
  // timeouts, all five, passed through unchanged.
  p.SetBaudRate(br115200);
  EXPECT_EQ(dev.CallLog(), (std::vector<Op>{Op::GetCommState, Op::SetCommState}));
  EXPECT_EQ(dev.Dcb().BaudRate, 115200u);

  dev.ClearCallLog();
  p.BufferSizes()->SetInput(8192);
  EXPECT_EQ(dev.CallLog(), std::vector<Op>{Op::SetupComm});
  EXPECT_EQ(dev.InQueueSize(), 8192u);
  EXPECT_EQ(dev.OutQueueSize(), 2048u);

  dev.ClearCallLog();
  p.Timeouts()->SetReadInterval(-1);
  p.Timeouts()->SetReadMultiplier(2);
  p.Timeouts()->SetReadConstant(3);
  p.Timeouts()->SetWriteMultiplier(4);
  p.Timeouts()->SetWriteConstant(5);
  EXPECT_EQ(dev.Calls(Op::GetCommTimeouts), 5);
  EXPECT_EQ(dev.Calls(Op::SetCommTimeouts), 5);
  const platform::COMMTIMEOUTS t = dev.Timeouts();
  EXPECT_EQ(t.ReadIntervalTimeout, 0xFFFFFFFFu);
  EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 2u);
  EXPECT_EQ(t.ReadTotalTimeoutConstant, 3u);
  EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 4u);
  EXPECT_EQ(t.WriteTotalTimeoutConstant, 5u);
}

TEST(ComportSettings, AFailedApplyKeepsTheNewValueAndWritesNothing) {
  FakePort f;
  f.port.Open();
  f.device->FailOnce(Op::GetCommState, EIO);
  try {
    f.port.SetParity(paEven);
    FAIL() << "no error";
  } catch (const EComError& e) {
    EXPECT_EQ(e.ComErrorCode, EIO);
  }
  EXPECT_EQ(f.port.Parity(), paEven);
  EXPECT_EQ(f.device->Calls(Op::SetCommState), 1);  // only the open's

  f.device->FailOnce(Op::GetCommTimeouts, EIO);
  EXPECT_THROW(f.port.Timeouts()->SetReadConstant(7), EComError);
  EXPECT_EQ(f.device->Calls(Op::SetCommTimeouts), 1);
}

TEST(ComportSettings, AssigningAGroupCopiesItsValues) {
  TComPort port, source;
  source.FlowControl()->SetRTSControl(rcHandshake);
  source.FlowControl()->SetXOffLimit(77);
  source.Characters()->SetEof(26);
  source.BufferSizes()->SetOutput(100);
  source.Timeouts()->SetWriteConstant(250);
  port.SetFlowControl(source.FlowControl());
  port.SetCharacters(source.Characters());
  port.SetBufferSizes(source.BufferSizes());
  port.SetTimeouts(source.Timeouts());

  source.FlowControl()->SetRTSControl(rcDisable);
  source.Characters()->SetEof(0);
  EXPECT_EQ(port.FlowControl()->RTS(), rcHandshake);
  EXPECT_EQ(port.FlowControl()->XOffLimit(), 77);
  EXPECT_EQ(port.Characters()->Eof(), 26);
  EXPECT_EQ(port.BufferSizes()->Output(), 100);
  EXPECT_EQ(port.Timeouts()->WriteConstant(), 250);
  EXPECT_NE(port.FlowControl(), source.FlowControl());
}

TEST(ComportSettings, PublishedEnumerationsAreNamedByMember) {
  TComPort port;
  port.SetBaudRate(br115200);
  port.SetOptions(opCheckParity | opAbortOnError);
  const QMetaObject* mo = port.metaObject();
  const QMetaProperty baud = mo->property(mo->indexOfProperty("BaudRate"));
  ASSERT_TRUE(baud.isEnumType());
  EXPECT_STREQ(baud.enumerator().valueToKey(baud.read(&port).toInt()), "br115200");
  const QMetaProperty options = mo->property(mo->indexOfProperty("Options"));
  ASSERT_TRUE(options.isFlagType());
  EXPECT_EQ(options.enumerator().valueToKeys(options.read(&port).toInt()), "opCheckParity|opAbortOnError");

  const QMetaObject* fc = port.FlowControl()->metaObject();
  EXPECT_STREQ(fc->property(fc->indexOfProperty("XOnXOff")).enumerator().name(), "TXOnXOffControl");
}
