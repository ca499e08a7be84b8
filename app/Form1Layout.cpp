#include "app/Form1Layout.h"

#include <string>

#include "serial/CportX1.h"

namespace app {

namespace {

constexpr std::uint8_t kPlain = 0;

}  // namespace

const std::vector<ControlLayout>& Form1Controls() {
  using gui::clNavy;
  using gui::clTeal;
  using gui::clWindowText;
  using gui::fsBold;
  using gui::fsUnderline;
  static const std::vector<ControlLayout> controls = {
      {"Image1",
       ControlKind::Image,
       {8, 36, 280, 93},
       "",
       true,
       true,
       kPlain,
       clWindowText,
       -1,
       kLogoPicture,
       false},
      {"Label1",
       ControlKind::Label,
       {216, 164, 68, 13},
       "PREPARED",
       true,
       true,
       fsBold,
       clTeal,
       -1,
       "",
       false},
      {"Label2",
       ControlKind::Label,
       {156, 164, 54, 13},
       "STATUS:",
       true,
       true,
       fsBold,
       clWindowText,
       -1,
       "",
       false},
      {"Label3",
       ControlKind::Label,
       {8, 164, 67, 13},
       kLinkAddress,
       true,
       true,
       fsUnderline,
       clNavy,
       -1,
       "",
       true},
      {"Image2",
       ControlKind::Image,
       {80, 164, 53, 14},
       "",
       true,
       false,
       kPlain,
       clWindowText,
       -1,
       kHiddenPicture,
       false},
      {"cmdOpen",
       ControlKind::Button,
       {80, 4, 101, 25},
       "Open COM",
       true,
       true,
       kPlain,
       clWindowText,
       0,
       kGlyphOpen,
       false},
      {"cmdClose",
       ControlKind::Button,
       {188, 4, 101, 25},
       "Close COM",
       false,
       true,
       kPlain,
       clWindowText,
       1,
       kGlyphClose,
       false},
      {"cboCOM",
       ControlKind::ComboBox,
       {8, 6, 65, 21},
       "COM1",
       true,
       true,
       kPlain,
       clWindowText,
       2,
       "",
       false},
      {"chkConf",
       ControlKind::CheckBox,
       {164, 140, 121, 17},
       "Include configuration",
       false,
       true,
       kPlain,
       clWindowText,
       3,
       "",
       false},
      {"cmdErase",
       ControlKind::Button,
       {8, 136, 149, 25},
       "Erase users data",
       false,
       true,
       kPlain,
       clWindowText,
       4,
       kGlyphErase,
       false},
      {"sBar",
       ControlKind::StatusBar,
       {0, 179, 297, 19},
       "",
       true,
       true,
       kPlain,
       clWindowText,
       -1,
       "",
       false},
  };
  return controls;
}

namespace {

gui::Control& AddControl(gui::Form& form, const ControlLayout& c) {
  switch (c.Kind) {
    case ControlKind::Image: {
      auto& image = form.Add<gui::Image>(c.Name);
      image.SetPicture(c.Resource);
      return image;
    }
    case ControlKind::Label: {
      auto& label = form.Add<gui::Label>(c.Name);
      label.SetCaption(c.Caption);
      return label;
    }
    case ControlKind::Button: {
      auto& button = form.Add<gui::Button>(c.Name);
      button.SetCaption(c.Caption);
      button.SetGlyph(c.Resource);
      return button;
    }
    case ControlKind::ComboBox: {
      auto& combo = form.Add<gui::ComboBox>(c.Name);
      std::vector<std::string> items;
      for (TPortType p : {COM1, COM2, COM3, COM4, COM5, COM6, COM7, COM8}) {
        items.push_back("COM" + std::to_string(static_cast<int>(p) + 1));
      }
      combo.SetItems(std::move(items));
      combo.SetItemHeight(13);
      combo.SetText(c.Caption);
      return combo;
    }
    case ControlKind::CheckBox: {
      auto& check = form.Add<gui::CheckBox>(c.Name);
      check.SetCaption(c.Caption);
      check.SetChecked(false);
      return check;
    }
    case ControlKind::StatusBar: {
      auto& bar = form.Add<gui::StatusBar>(c.Name);
      bar.SetPanelWidth(250);
      bar.SetPanelAlignment(gui::Alignment::Centre);
      bar.SetPanelText(c.Caption);
      return bar;
    }
  }
  throw Exception(std::string("Unknown control kind in the layout of ") + c.Name);
}

}  // namespace

void LoadForm1Layout(gui::Form& form) {
  form.SetCaption(kWindowCaption);
  form.SetLeft(kDesignLeft);
  form.SetTop(kDesignTop);
  form.SetClientSize(kClientWidth, kClientHeight);
  form.SetFixedSize(true);
  form.SetColour(gui::clBtnFace);
  form.SetFont(gui::Font{});
  form.SetIcon(kWindowIcon);

  for (const ControlLayout& c : Form1Controls()) {
    gui::Control& control = AddControl(form, c);
    control.SetBounds(c.Bounds.Left, c.Bounds.Top, c.Bounds.Width, c.Bounds.Height);
    gui::Font font;
    font.Style = c.FontStyle;
    font.Colour = c.FontColour;
    control.SetFont(font);
    control.SetBackColour(gui::clBtnFace);
    control.SetEnabled(c.Enabled);
    control.SetVisible(c.Visible);
    control.SetTabOrder(c.TabOrder);
    control.SetHandCursor(c.HandCursor);
  }

  gui::Timer& wake = form.AddTimer("Timer1");
  wake.SetEnabled(false);
  wake.SetInterval(kWakeIntervalMs);
  gui::Timer& completion = form.AddTimer("Timer2");
  completion.SetEnabled(false);
  completion.SetInterval(kCompletionIntervalMs);
}

void ConfigureCx1(TComX& port) {
  port.SetBaudRate(br115200);
  port.SetPort(COM1);
  port.Parity().SetBits(prNone);
  port.Parity().SetCheck(false);
  port.Parity().SetReplace(false);
  port.Parity().SetReplaceChar(0);
  port.SetStopBits(sbOneStopBit);
  port.SetDataBits(dbEight);
  port.SetDiscardNull(true);
  port.SetEventChar(0);
  port.SetEvents(kAllEvents);
  port.Buffer().SetInputSize(1024);
  port.Buffer().SetOutputSize(1024);
  TComFlowControl& flow = port.FlowControl();
  flow.SetOutCTSFlow(false);
  flow.SetOutDSRFlow(false);
  flow.SetControlDTR(dtrDisable);
  flow.SetControlRTS(rtsDisable);
  flow.SetXonXoffOut(false);
  flow.SetXonXoffIn(false);
  flow.SetDSRSensitivity(false);
  flow.SetTxContinueOnXoff(false);
  flow.SetXonChar(17);
  flow.SetXoffChar(19);
  TComTimeouts& timeouts = port.Timeouts();
  timeouts.SetReadInterval(-1);
  timeouts.SetReadTotalMultiplier(0);
  timeouts.SetReadTotalConstant(100);
  timeouts.SetWriteTotalMultiplier(100);
  timeouts.SetWriteTotalConstant(10);
  port.SetSyncMethod(smThreadSync);
}

}  // namespace app
