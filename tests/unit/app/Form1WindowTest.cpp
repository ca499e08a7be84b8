// The window's start, its settings file, opening and closing the port.
#include <gtest/gtest.h>

#include "Form1Fixture.h"
#include "app/Form1Layout.h"
#include "app/SettingsFile.h"

namespace {

using app::AppDir;

std::string Ini(const TempDir& dir) {
  return dir.File("Zanowipe.ini");
}

TEST_F(Form1Test, LayoutLoadsTheWindowTimersAndSerialConfiguration) {
  CreateForm();
  EXPECT_EQ(form->Caption(), " Users data cleaner");
  EXPECT_EQ(form->ClientWidth(), 297);
  EXPECT_EQ(form->ClientHeight(), 198);
  EXPECT_TRUE(form->FixedSize());
  EXPECT_EQ(form->Icon(), "ICON_WINDOW");
  EXPECT_EQ(form->Timer1.Interval(), 700);
  EXPECT_EQ(form->Timer2.Interval(), 1500);
  EXPECT_FALSE(form->Timer1.Enabled());
  EXPECT_FALSE(form->Timer2.Enabled());
  EXPECT_FALSE(form->Image2.Visible());
  EXPECT_EQ(form->Image1.Picture(), "LOGO");
  EXPECT_EQ(form->cmdErase.Glyph(), "GLYPH_ERASE");
  EXPECT_EQ(form->sBar.PanelWidth(), 250);
  EXPECT_EQ(form->sBar.PanelAlignment(), gui::Alignment::Centre);
  EXPECT_EQ(form->Label1.Font().Colour, gui::clTeal);
  EXPECT_EQ(form->Label3.Font().Style, gui::fsUnderline);
  EXPECT_TRUE(form->Label3.HandCursor());

  const TComX& port = form->Cx1;
  EXPECT_EQ(port.BaudRate(), br115200);
  EXPECT_EQ(port.Port(), COM1);
  EXPECT_EQ(port.StopBits(), sbOneStopBit);
  EXPECT_EQ(port.DataBits(), dbEight);
  EXPECT_TRUE(port.DiscardNull());
  EXPECT_EQ(port.EventChar(), 0);
  EXPECT_EQ(port.Events(), kAllEvents);
  EXPECT_EQ(port.SyncMethod(), smThreadSync);
  EXPECT_EQ(port.Parity().Bits(), prNone);
  EXPECT_FALSE(port.Parity().Check());
  EXPECT_FALSE(port.Parity().Replace());
  EXPECT_EQ(port.Buffer().InputSize(), 1024u);
  EXPECT_EQ(port.Buffer().OutputSize(), 1024u);
  EXPECT_EQ(port.FlowControl().ControlDTR(), dtrDisable);
  EXPECT_EQ(port.FlowControl().ControlRTS(), rtsDisable);
  EXPECT_FALSE(port.FlowControl().OutCTSFlow() || port.FlowControl().OutDSRFlow() ||
               port.FlowControl().XonXoffIn() || port.FlowControl().XonXoffOut() ||
               port.FlowControl().DSRSensitivity() || port.FlowControl().TxContinueOnXoff());
  EXPECT_EQ(port.FlowControl().XonChar(), 17);
  EXPECT_EQ(port.FlowControl().XoffChar(), 19);
  EXPECT_EQ(port.Timeouts().ReadInterval(), -1);
  EXPECT_EQ(port.Timeouts().ReadTotalMultiplier(), 0);
  EXPECT_EQ(port.Timeouts().ReadTotalConstant(), 100);
  EXPECT_EQ(port.Timeouts().WriteTotalMultiplier(), 100);
  EXPECT_EQ(port.Timeouts().WriteTotalConstant(), 10);
  EXPECT_TRUE(static_cast<bool>(port.OnRxChar));
  EXPECT_FALSE(port.OnTxEmpty || port.OnError || port.OnCTSChange || port.OnOpen);
  EXPECT_EQ(Form1, form.get());
}

TEST_F(Form1Test, FirstStartUsesDefaultsAndSavesThemAtClose) {
  CreateForm();
  EXPECT_EQ(AppDir, dir.Path().string() + app::PathSeparator());
  EXPECT_EQ(form->Left(), 200);
  EXPECT_EQ(form->Top(), 200);
  EXPECT_EQ(form->cboCOM.ItemIndex(), -1);
  EXPECT_EQ(form->cboCOM.Text(), "COM1");
  EXPECT_FALSE(std::filesystem::exists(Ini(dir)));

  Open();
  EXPECT_EQ(fake.LastCall("CreateFileA").text, "COM1");
  form->Close();
  backend.ProcessMessages();
  EXPECT_TRUE(form->Closed());
  EXPECT_FALSE(fake.IsOpen());
  const std::string text = TempDir::Read(Ini(dir));
  const auto top = text.find("TOP=200"), left = text.find("LEFT=200"),
             port = text.find("COM PORT=0");
  EXPECT_TRUE(text.find("[APP]") < top && top < left && left < port && port != text.npos) << text;
}

TEST_F(Form1Test, RestoresPositionAndPortChoice) {
  struct Case {
    const char* file;
    int top, left, itemIndex;
    const char* opens;
    int saved;
  };
  const Case cases[] = {
      {"[APP]\nTOP=0x20\nLEFT=abc\nCOM PORT=3\n", 32, 200, 2, "COM3", 3},
      {"[APP]\nTOP=300\nLEFT=410\nCOM PORT=8\n", 300, 410, 7, "COM8", 8},
      {"[APP]\nCOM PORT=9\n", 200, 200, -1, "COM1", 0},
      {"[APP]\nCOM PORT=-5\n", 200, 200, -1, "COM1", 0},
      {"[APP]\nCOM PORT=0\n", 200, 200, -1, "COM1", 0},
      // The ends of the integer range select nothing, as an absent key does.
      {"[APP]\nCOM PORT=-2147483648\n", 200, 200, -1, "COM1", 0},
      {"[APP]\nCOM PORT=2147483647\n", 200, 200, -1, "COM1", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    TempDir::Write(Ini(dir), c.file);
    fake.ClearCalls();
    CreateForm();
    EXPECT_EQ(form->Top(), c.top);
    EXPECT_EQ(form->Left(), c.left);
    EXPECT_EQ(form->cboCOM.ItemIndex(), c.itemIndex);
    Open();
    EXPECT_EQ(fake.LastCall("CreateFileA").text, c.opens);
    form->Close();
    backend.ProcessMessages();
    ASSERT_TRUE(form->Closed());
    app::TIniFile saved(Ini(dir));
    EXPECT_EQ(saved.ReadInteger("APP", "COM PORT", -99), c.saved);
    form.reset();
  }
}

TEST_F(Form1Test, SavedPositionOffEveryScreenComesBackToThePrimaryFrameAndAll) {
  backend.SetScreens({{0, 0, 1280, 1024}});
  backend.SetFrameExtents({8, 31});  // borders and caption around the 297 x 198 client area
  TempDir::Write(Ini(dir), "[APP]\nTOP=5000\nLEFT=3000\n");
  CreateForm();
  EXPECT_EQ(form->Left(), 1280 - 297 - 8);
  EXPECT_EQ(form->Top(), 1024 - 198 - 31);
}

// The adapter was pulled out while the port was open: every close of the port now fails.
TEST_F(Form1Test, WindowClosesOnceEvenWhenThePortRefusesToClose) {
  CreateForm();
  Open();
  fake.FailAlways("PurgeComm", 1167);
  form->cboCOM.SetItemIndex(5);
  form->Close();
  backend.ProcessMessages();
  EXPECT_TRUE(form->Closed());
  EXPECT_EQ(ErrorTexts(), "PurgeComm function failed (win error code: 1167)\n");
  EXPECT_EQ(app::TIniFile(Ini(dir)).ReadInteger("APP", "COM PORT", 0), 6)
      << "the settings are saved all the same";
  form.reset();
  EXPECT_FALSE(fake.IsOpen()) << "the port is let go with the window";
}

TEST_F(Form1Test, FailedSettingsWriteIsShownAndTheWindowStillCloses) {
  // A directory where the file should be: every write to it fails.
  std::filesystem::create_directory(Ini(dir));
  CreateForm();
  form->Close();
  backend.ProcessMessages();
  EXPECT_TRUE(form->Closed());
  ASSERT_EQ(backend.ErrorBoxes().size(), 1u);
  EXPECT_EQ(backend.ErrorBoxes()[0].text, "Unable to write to " + AppDir + "Zanowipe.ini.");
  EXPECT_EQ(backend.ErrorBoxes()[0].caption, "Zanowipe");
}

TEST_F(Form1Test, OpenFailureLeavesEverythingAsItWas) {
  fake::FakeCommDriver empty;  // no devices: every open fails with 2
  form = std::make_unique<TForm1>(&empty);
  backend.CreatePeers(*form);
  app::WakeTicks = 17;
  app::WakingUp = 0;
  app::Erasing = 1;
  form->cmdOpen.UserClick();
  ASSERT_EQ(backend.ErrorBoxes().size(), 1u);
  EXPECT_EQ(backend.ErrorBoxes()[0].text, "Unable to open com port (win error code: 2)");
  EXPECT_EQ(backend.ErrorBoxes()[0].caption, "Zanowipe");
  EXPECT_FALSE(form->Cx1.Connected());
  EXPECT_TRUE(form->cmdOpen.Enabled());
  EXPECT_FALSE(form->cmdClose.Enabled());
  EXPECT_FALSE(form->cmdErase.Enabled());
  EXPECT_FALSE(form->chkConf.Enabled());
  EXPECT_EQ(form->sBar.PanelText(), "");
  EXPECT_EQ(form->Label1.Caption(), "PREPARED");
  EXPECT_EQ(app::WakeTicks, 0);
  EXPECT_EQ(app::WakingUp, 0);
  EXPECT_EQ(app::Erasing, 1);
}

TEST_F(Form1Test, OpenAppliesTheToolsLineSettings) {
  CreateForm();
  Open();
  EXPECT_TRUE(form->Cx1.Connected());
  const drv::Dcb dcb = fake.LastCall("SetCommState").dcb;
  EXPECT_EQ(dcb.BaudRate, 115200u);
  EXPECT_EQ(dcb.ByteSize, 8);
  EXPECT_EQ(dcb.Parity, drv::kNoParity);
  EXPECT_EQ(dcb.StopBits, drv::kOneStopBit);
  EXPECT_TRUE(dcb.Flags & drv::kFNull);
  EXPECT_EQ(dcb.Flags & (drv::kFDtrControlMask | drv::kFRtsControlMask), 0u);
  const drv::CommTimeouts t = fake.LastCall("SetCommTimeouts").timeouts;
  EXPECT_EQ(t.ReadIntervalTimeout, 0xFFFFFFFFu);
  EXPECT_EQ(t.ReadTotalTimeoutConstant, 100u);
  EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 100u);
  EXPECT_EQ(t.WriteTotalTimeoutConstant, 10u);
  EXPECT_EQ(fake.LastCall("SetupComm").args, (std::vector<std::uint32_t>{1024, 1024}));
  EXPECT_EQ(fake.Mask(), 0x05FFu);  // all ten events
  EXPECT_FALSE(form->Timer1.Enabled());
  EXPECT_EQ(form->sBar.PanelText(), "COM Port opened, switch Box to Power ON");
  EXPECT_FALSE(form->cmdOpen.Enabled());
  EXPECT_TRUE(form->cmdClose.Enabled());
  EXPECT_FALSE(form->cmdErase.Enabled());
  EXPECT_FALSE(form->chkConf.Enabled());
  EXPECT_TRUE(form->cboCOM.Enabled());
}

TEST_F(Form1Test, CloseBeforeAnyEraseShowsComplete) {
  CreateForm();
  Open();
  form->cmdClose.UserClick();
  EXPECT_FALSE(fake.IsOpen());
  EXPECT_EQ(form->sBar.PanelText(), "COM Port closed, please switch Box to Power OFF");
  EXPECT_EQ(form->Label1.Caption(), "COMPLETE");
  EXPECT_TRUE(form->cmdOpen.Enabled());
  EXPECT_FALSE(form->cmdClose.Enabled());
}

TEST_F(Form1Test, ListChangesWhileOpenWaitForTheNextOpen) {
  TempDir::Write(Ini(dir), "[APP]\nCOM PORT=3\n");
  CreateForm();
  Open();
  fake.ClearCalls();
  form->cboCOM.UserSelect(4);
  EXPECT_TRUE(fake.Calls().empty());
  EXPECT_EQ(form->Cx1.Port(), COM3);
  form->cmdClose.UserClick();
  form->cmdOpen.UserClick();
  EXPECT_EQ(fake.LastCall("CreateFileA").text, "COM5");
  form->Close();
  backend.ProcessMessages();
  EXPECT_EQ(app::TIniFile(Ini(dir)).ReadInteger("APP", "COM PORT", 0), 5);
}

TEST_F(Form1Test, LinkLabelOpensItsOwnCaption) {
  CreateForm();
  form->Label3.UserClick();
  ASSERT_EQ(backend.OpenedDocuments().size(), 1u);
  EXPECT_EQ(backend.OpenedDocuments()[0], form->Label3.Caption());
  EXPECT_EQ(backend.OpenedDocuments()[0], app::kLinkAddress);
}

}  // namespace
