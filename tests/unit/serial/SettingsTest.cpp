// The setter rule, the object-valued properties, CopyTo and DeviceName, against the fake
// driver's call log.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/unit/serial/PortTestSupport.h"

namespace serial_test {
namespace {

struct NamedChange {
  std::string name;
  std::function<void(TComX&)> change;  // sets a value different from the default
  std::string call;                    // the one driver call it must make while connected
};

std::vector<NamedChange> AllValueChanges() {
  return {
      {"BaudRate", [](TComX& p) { p.SetBaudRate(br115200); }, "SetCommState"},
      {"StopBits", [](TComX& p) { p.SetStopBits(sbTwoStopBits); }, "SetCommState"},
      {"DataBits", [](TComX& p) { p.SetDataBits(dbSeven); }, "SetCommState"},
      {"DiscardNull", [](TComX& p) { p.SetDiscardNull(true); }, "SetCommState"},
      {"EventChar", [](TComX& p) { p.SetEventChar('\n'); }, "SetCommState"},
      {"Parity.Bits", [](TComX& p) { p.Parity().SetBits(prEven); }, "SetCommState"},
      {"Parity.Check", [](TComX& p) { p.Parity().SetCheck(true); }, "SetCommState"},
      {"Parity.Replace", [](TComX& p) { p.Parity().SetReplace(true); }, "SetCommState"},
      {"Parity.ReplaceChar", [](TComX& p) { p.Parity().SetReplaceChar('?'); }, "SetCommState"},
      {"Flow.OutCTSFlow", [](TComX& p) { p.FlowControl().SetOutCTSFlow(true); }, "SetCommState"},
      {"Flow.OutDSRFlow", [](TComX& p) { p.FlowControl().SetOutDSRFlow(true); }, "SetCommState"},
      {"Flow.ControlDTR", [](TComX& p) { p.FlowControl().SetControlDTR(dtrEnable); },
       "SetCommState"},
      {"Flow.ControlRTS", [](TComX& p) { p.FlowControl().SetControlRTS(rtsToggle); },
       "SetCommState"},
      {"Flow.XonXoffOut", [](TComX& p) { p.FlowControl().SetXonXoffOut(true); }, "SetCommState"},
      {"Flow.XonXoffIn", [](TComX& p) { p.FlowControl().SetXonXoffIn(true); }, "SetCommState"},
      {"Flow.DSRSensitivity", [](TComX& p) { p.FlowControl().SetDSRSensitivity(true); },
       "SetCommState"},
      {"Flow.TxContinueOnXoff", [](TComX& p) { p.FlowControl().SetTxContinueOnXoff(true); },
       "SetCommState"},
      {"Flow.XonChar", [](TComX& p) { p.FlowControl().SetXonChar('A'); }, "SetCommState"},
      {"Flow.XoffChar", [](TComX& p) { p.FlowControl().SetXoffChar('B'); }, "SetCommState"},
      {"Timeouts.ReadInterval", [](TComX& p) { p.Timeouts().SetReadInterval(5); },
       "SetCommTimeouts"},
      {"Timeouts.ReadTotalMultiplier", [](TComX& p) { p.Timeouts().SetReadTotalMultiplier(5); },
       "SetCommTimeouts"},
      {"Timeouts.ReadTotalConstant", [](TComX& p) { p.Timeouts().SetReadTotalConstant(5); },
       "SetCommTimeouts"},
      {"Timeouts.WriteTotalMultiplier", [](TComX& p) { p.Timeouts().SetWriteTotalMultiplier(5); },
       "SetCommTimeouts"},
      {"Timeouts.WriteTotalConstant", [](TComX& p) { p.Timeouts().SetWriteTotalConstant(5); },
       "SetCommTimeouts"},
      {"Buffer.InputSize", [](TComX& p) { p.Buffer().SetInputSize(4096); }, "SetupComm"},
      {"Buffer.OutputSize", [](TComX& p) { p.Buffer().SetOutputSize(4096); }, "SetupComm"},
  };
}

// The same properties written with the values they already hold.
std::vector<std::pair<std::string, std::function<void(TComX&)>>> AllSameValueWrites() {
  return {
      {"BaudRate", [](TComX& p) { p.SetBaudRate(p.BaudRate()); }},
      {"Port", [](TComX& p) { p.SetPort(p.Port()); }},
      {"StopBits", [](TComX& p) { p.SetStopBits(p.StopBits()); }},
      {"DataBits", [](TComX& p) { p.SetDataBits(p.DataBits()); }},
      {"DiscardNull", [](TComX& p) { p.SetDiscardNull(p.DiscardNull()); }},
      {"EventChar", [](TComX& p) { p.SetEventChar(p.EventChar()); }},
      {"SyncMethod", [](TComX& p) { p.SetSyncMethod(p.SyncMethod()); }},
      {"Parity.Bits", [](TComX& p) { p.Parity().SetBits(p.Parity().Bits()); }},
      {"Parity.Check", [](TComX& p) { p.Parity().SetCheck(p.Parity().Check()); }},
      {"Flow.ControlRTS",
       [](TComX& p) { p.FlowControl().SetControlRTS(p.FlowControl().ControlRTS()); }},
      {"Flow.XonChar", [](TComX& p) { p.FlowControl().SetXonChar(p.FlowControl().XonChar()); }},
      {"Timeouts.ReadInterval",
       [](TComX& p) { p.Timeouts().SetReadInterval(p.Timeouts().ReadInterval()); }},
      {"Buffer.InputSize", [](TComX& p) { p.Buffer().SetInputSize(p.Buffer().InputSize()); }},
  };
}

std::vector<std::int32_t> Fields(const TComTimeouts& t) {
  return {t.ReadInterval(), t.ReadTotalMultiplier(), t.ReadTotalConstant(),
          t.WriteTotalMultiplier(), t.WriteTotalConstant()};
}

using SettingsTest = PortTest;

TEST_F(SettingsTest, ConstructionSetsTheDefaultsWithoutADriverCall) {
  EXPECT_TRUE(fake.Calls().empty());
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(port.DeviceHandle(), drv::kInvalidHandle);
  EXPECT_EQ(port.BaudRate(), br9600);
  EXPECT_EQ(port.Port(), COM1);
  EXPECT_EQ(port.StopBits(), sbOneStopBit);
  EXPECT_EQ(port.DataBits(), dbEight);
  EXPECT_FALSE(port.DiscardNull());
  EXPECT_EQ(port.EventChar(), 0);
  EXPECT_EQ(port.Events(), kAllEvents);
  EXPECT_EQ(port.SyncMethod(), smThreadSync);
  EXPECT_FALSE(port.ThreadStarted());
  EXPECT_EQ(port.EventThread(), nullptr);
  EXPECT_EQ(port.Parity().OwnerPort(), &port);
  EXPECT_EQ(port.FlowControl().OwnerPort(), &port);
  EXPECT_EQ(port.Timeouts().OwnerPort(), &port);
  EXPECT_EQ(port.Buffer().OwnerPort(), &port);
  EXPECT_EQ(port.Timeouts().ReadInterval(), -1);
  EXPECT_EQ(port.Timeouts().WriteTotalMultiplier(), 100);
  EXPECT_EQ(port.Timeouts().WriteTotalConstant(), 1000);
  EXPECT_EQ(port.FlowControl().XonChar(), 0x11);
  EXPECT_EQ(port.FlowControl().XoffChar(), 0x13);
  EXPECT_EQ(port.Buffer().InputSize(), 1024u);
  EXPECT_EQ(port.Buffer().OutputSize(), 1024u);
}

TEST_F(SettingsTest, EveryChangeWhileClosedIsOnlyStored) {
  for (const NamedChange& c : AllValueChanges()) c.change(port);
  port.SetPort(COM2);
  port.SetSyncMethod(smNone);
  EXPECT_TRUE(fake.Calls().empty());
  EXPECT_EQ(port.Port(), COM2);
  EXPECT_EQ(port.SyncMethod(), smNone);
  EXPECT_EQ(port.BaudRate(), br115200);
}

TEST_F(SettingsTest, EachChangeWhileConnectedMakesExactlyItsGroupsCall) {
  port.SetEvents({});  // no watcher: the log holds only what the setter does
  for (const NamedChange& c : AllValueChanges()) {
    TComX p(&fake);
    p.SetEvents({});
    p.Open();
    fake.ClearCalls();
    c.change(p);
    EXPECT_EQ(fake.CallNames(), std::vector<std::string>{c.call}) << c.name;
    p.Close();
  }
}

TEST_F(SettingsTest, WritingTheCurrentValueMakesNoDriverCallAlsoWhileConnected) {
  port.SetEvents({});
  OpenQuietly();
  for (const auto& [name, write] : AllSameValueWrites()) {
    write(port);
    EXPECT_TRUE(fake.Calls().empty()) << name;
  }
  EXPECT_TRUE(port.Connected());
}

TEST_F(SettingsTest, InputSizeChangeSendsNoDcbUntilTheNextLineApply) {
  port.SetEvents({});
  OpenQuietly();
  port.Buffer().SetInputSize(2048);
  EXPECT_EQ(fake.CountOf("SetCommState"), 0);
  port.SetBaudRate(br57600);
  EXPECT_EQ(fake.LastCall("SetCommState").dcb.XonLim, 512);
}

TEST_F(SettingsTest, ObjectValuedWritesAlwaysCopyAndReapply) {
  port.SetEvents({});
  OpenQuietly();
  const TComParity sameParity;  // holds exactly the port's values
  port.SetParity(&sameParity);
  const TComFlowControl sameFlow;
  port.SetFlowControl(&sameFlow);
  const TComTimeouts sameTimeouts;
  port.SetTimeouts(&sameTimeouts);
  const TComBuffer sameBuffer;
  port.SetBuffer(&sameBuffer);
  EXPECT_EQ(fake.CallNames(), (std::vector<std::string>{"SetCommState", "SetCommState",
                                                        "SetCommTimeouts", "SetupComm"}));
}

TEST_F(SettingsTest, AssignedBufferIsCopiedNotTaken) {
  port.SetEvents({});
  OpenQuietly();
  TComBuffer given;
  given.SetInputSize(4096);
  given.SetOutputSize(2048);
  port.SetBuffer(&given);
  EXPECT_NE(&port.Buffer(), &given);
  EXPECT_EQ(port.Buffer().InputSize(), 4096u);
  EXPECT_EQ(port.Buffer().OutputSize(), 2048u);
  EXPECT_EQ(port.Buffer().OwnerPort(), &port);
  EXPECT_EQ(given.OwnerPort(), nullptr);
  EXPECT_EQ(given.InputSize(), 4096u);
  EXPECT_EQ(given.OutputSize(), 2048u);
  const fake::FakeCall setup = fake.LastCall("SetupComm");
  EXPECT_EQ(setup.handle, port.DeviceHandle());
  EXPECT_EQ(setup.args, (std::vector<std::uint32_t>{4096, 2048}));
  // Later changes to the given object do not reach the port.
  given.SetInputSize(8);
  EXPECT_EQ(port.Buffer().InputSize(), 4096u);
}

TEST_F(SettingsTest, CopyToWritesFieldsWithoutAskingTheDestinationsPortToApply) {
  port.SetEvents({});
  OpenQuietly();
  TComParity source;
  source.SetBits(prMark);
  source.SetCheck(true);
  source.SetReplace(true);
  source.SetReplaceChar('#');
  source.CopyTo(port.Parity());
  EXPECT_TRUE(fake.Calls().empty());
  EXPECT_EQ(port.Parity().Bits(), prMark);
  EXPECT_TRUE(port.Parity().Check());
  EXPECT_TRUE(port.Parity().Replace());
  EXPECT_EQ(port.Parity().ReplaceChar(), '#');
  EXPECT_EQ(port.Parity().OwnerPort(), &port);  // not copied

  TComTimeouts t;
  t.SetReadInterval(7);
  t.SetReadTotalMultiplier(8);
  t.SetReadTotalConstant(9);
  t.SetWriteTotalMultiplier(10);
  t.SetWriteTotalConstant(11);
  TComTimeouts other;
  t.CopyTo(other);
  EXPECT_EQ(Fields(other), (std::vector<std::int32_t>{7, 8, 9, 10, 11}));
}

TEST_F(SettingsTest, CopyToADerivedClassCopiesAllValues) {
  class TMyFlowControl : public TComFlowControl {
   public:
    const char* ClassName() const override { return "TMyFlowControl"; }
  };
  TComFlowControl source;
  source.SetOutCTSFlow(true);
  source.SetControlDTR(dtrHandshake);
  source.SetControlRTS(rtsHandshake);
  source.SetXonXoffIn(true);
  source.SetXonChar(1);
  source.SetXoffChar(2);
  TMyFlowControl dest;
  source.CopyTo(dest);
  EXPECT_TRUE(dest.OutCTSFlow());
  EXPECT_FALSE(dest.OutDSRFlow());
  EXPECT_EQ(dest.ControlDTR(), dtrHandshake);
  EXPECT_EQ(dest.ControlRTS(), rtsHandshake);
  EXPECT_TRUE(dest.XonXoffIn());
  EXPECT_EQ(dest.XonChar(), 1);
  EXPECT_EQ(dest.XoffChar(), 2);
}

TEST_F(SettingsTest, CopyAcrossClassesFailsWithTheAssignmentError) {
  TComBuffer buffer;
  buffer.SetInputSize(5);
  try {
    buffer.CopyTo(port.Parity());
    FAIL() << "no error";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "Cannot assign a TComBuffer to a TComParity");
  }
  try {
    port.SetTimeouts(&buffer);
    FAIL() << "no error";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "Cannot assign a TComBuffer to a TComTimeouts");
  }
  EXPECT_EQ(port.Timeouts().ReadInterval(), -1);
}

TEST_F(SettingsTest, WritingNoObjectFailsWithNilAsTheSource) {
  port.SetEvents({});
  OpenQuietly();
  struct Case {
    std::function<void()> write;
    const char* message;
  } cases[] = {
      {[&] { port.SetParity(nullptr); }, "Cannot assign a nil to a TComParity"},
      {[&] { port.SetFlowControl(nullptr); }, "Cannot assign a nil to a TComFlowControl"},
      {[&] { port.SetTimeouts(nullptr); }, "Cannot assign a nil to a TComTimeouts"},
      {[&] { port.SetBuffer(nullptr); }, "Cannot assign a nil to a TComBuffer"},
  };
  for (const Case& c : cases) {
    try {
      c.write();
      ADD_FAILURE() << "no error for " << c.message;
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.Message(), c.message);
    }
  }
  EXPECT_TRUE(fake.Calls().empty());
}

TEST_F(SettingsTest, DeviceNameIsComNForEachPortAndEmptyOutside) {
  for (int i = 0; i < 8; ++i) {
    port.SetPort(static_cast<TPortType>(i));
    EXPECT_EQ(port.DeviceName(), "COM" + std::to_string(i + 1)) << "port " << i;
  }
  port.SetPort(static_cast<TPortType>(8));
  EXPECT_EQ(port.DeviceName(), "");
  const EComPort e = CatchComPort([&] { port.Open(); });
  EXPECT_EQ(e.ErrorCode(), 1);
  EXPECT_EQ(fake.LastCall("CreateFileA").text, "");
}

TEST_F(SettingsTest, SyncMethodCannotChangeWhileConnected) {
  port.SetEvents({});
  OpenQuietly();
  port.SetSyncMethod(smThreadSync);  // the current value: silent
  const EComPort e = CatchComPort([&] { port.SetSyncMethod(smNone); });
  EXPECT_EQ(e.ErrorCode(), 14);
  EXPECT_EQ(e.SystemErrorCode(), -1);
  EXPECT_EQ(e.Message(), "Cannot set SyncMethod while connected");
  EXPECT_EQ(port.SyncMethod(), smThreadSync);
  EXPECT_TRUE(port.Connected());
  EXPECT_TRUE(fake.Calls().empty());
}

TEST_F(SettingsTest, RefusedApplyRaisesItsCodeAndKeepsTheNewValue) {
  port.SetEvents({});
  OpenQuietly();
  fake.FailNext("SetCommState", 87);
  EComPort e = CatchComPort([&] { port.SetBaudRate(br300); });
  EXPECT_EQ(e.ErrorCode(), 7);
  EXPECT_EQ(e.SystemErrorCode(), 87);
  EXPECT_EQ(port.BaudRate(), br300);

  fake.FailNext("SetCommTimeouts", 31);
  e = CatchComPort([&] { port.Timeouts().SetReadTotalConstant(50); });
  EXPECT_EQ(e.ErrorCode(), 8);
  EXPECT_EQ(e.SystemErrorCode(), 31);
  EXPECT_EQ(port.Timeouts().ReadTotalConstant(), 50);

  fake.FailNext("SetupComm", 8);
  e = CatchComPort([&] { port.Buffer().SetOutputSize(1); });
  EXPECT_EQ(e.ErrorCode(), 9);
  EXPECT_EQ(e.SystemErrorCode(), 8);
  EXPECT_EQ(e.Message(), "SetupComm function failed (win error code: 8)");

  // The next successful apply of the group sends the stored value.
  port.SetDataBits(dbSeven);
  EXPECT_EQ(fake.LastCall("SetCommState").dcb.BaudRate, 300u);
}

TEST_F(SettingsTest, EventsHasNoEffectUntilTheNextOpen) {
  OpenQuietly();
  const std::uint32_t maskAtOpen = fake.Mask();
  port.SetEvents({evRxChar});
  EXPECT_EQ(fake.CountOf("SetCommMask"), 0);
  EXPECT_EQ(fake.Mask(), maskAtOpen);
  port.Close();
  port.Open();
  EXPECT_EQ(fake.Mask(), drv::kEvRxChar);
}

}  // namespace
}  // namespace serial_test
