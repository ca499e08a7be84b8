#include "app/Form1Layout.h"

#include <string>

#include "serial/CportX1.h"

namespace app {

const std::vector<ControlLayout>& Form1Controls() {
  using gui::clNavy;
  using gui::clTeal;
  using gui::fsBold;
  using gui::fsUnderline;
  using gui::Rect;
  using K = ControlKind;
  static const std::vector<ControlLayout> controls = {
      {.Name = "Image1",
       .Kind = K::Image,
       .Bounds = Rect{.Left = 8, .Top = 36, .Width = 280, .Height = 93},
       .Resource = kLogoPicture},
      {.Name = "Label1",
       .Kind = K::Label,
       .Bounds = Rect{.Left = 216, .Top = 164, .Width = 68, .Height = 13},
       .Caption = "PREPARED",
       .FontStyle = fsBold,
       .FontColour = clTeal},
      {.Name = "Label2",
       .Kind = K::Label,
       .Bounds = Rect{.Left = 156, .Top = 164, .Width = 54, .Height = 13},
       .Caption = "STATUS:",
       .FontStyle = fsBold},
      {.Name = "Label3",
       .Kind = K::Label,
       .Bounds = Rect{.Left = 8, .Top = 164, .Width = 67, .Height = 13},
       .Caption = kLinkAddress,
       .FontStyle = fsUnderline,
       .FontColour = clNavy,
       .HandCursor = true},
      {.Name = "Image2",
       .Kind = K::Image,
       .Bounds = Rect{.Left = 80, .Top = 164, .Width = 53, .Height = 14},
       .Visible = false,
       .Resource = kHiddenPicture},
      {.Name = "cmdOpen",
       .Kind = K::Button,
       .Bounds = Rect{.Left = 80, .Top = 4, .Width = 101, .Height = 25},
       .Caption = "Open COM",
       .TabOrder = 0,
       .Resource = kGlyphOpen},
      {.Name = "cmdClose",
       .Kind = K::Button,
       .Bounds = Rect{.Left = 188, .Top = 4, .Width = 101, .Height = 25},
       .Caption = "Close COM",
       .Enabled = false,
       .TabOrder = 1,
       .Resource = kGlyphClose},
      {.Name = "cboCOM",
       .Kind = K::ComboBox,
       .Bounds = Rect{.Left = 8, .Top = 6, .Width = 65, .Height = 21},
       .Caption = "COM1",
       .TabOrder = 2},
      {.Name = "chkConf",
       .Kind = K::CheckBox,
       .Bounds = Rect{.Left = 164, .Top = 140, .Width = 121, .Height = 17},
       .Caption = "Include configuration",
       .Enabled = false,
       .TabOrder = 3},
      {.Name = "cmdErase",
       .Kind = K::Button,
       .Bounds = Rect{.Left = 8, .Top = 136, .Width = 149, .Height = 25},
       .Caption = "Erase users data",
       .Enabled = false,
       .TabOrder = 4,
       .Resource = kGlyphErase},
      {.Name = "sBar",
       .Kind = K::StatusBar,
       .Bounds = Rect{.Left = 0, .Top = 179, .Width = 297, .Height = 19}},
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
  gui::Timer& readBack = form.AddTimer("Timer3");
  readBack.SetEnabled(false);
  readBack.SetInterval(kReadBackIntervalMs);
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
