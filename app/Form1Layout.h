// The main window's layout as data, the equivalent of a stored form file: the window, every
// control in layout order, the three stopped timers and the port's fixed serial configuration.
// Loading it sets the same properties a backend then shows; nothing here knows a toolkit.
#pragma once

#include <cstdint>
#include <vector>

#include "gui/Forms.h"

class TComX;

namespace app {

// The maker's address: the link label's caption and what a click on it opens.
inline constexpr const char* kLinkAddress = "www.zanowipe.example";
inline constexpr const char* kWindowCaption = " Users data cleaner";
inline constexpr int kClientWidth = 297;
inline constexpr int kClientHeight = 198;
// Where the window was designed; the settings file replaces both at creation.
inline constexpr int kDesignLeft = 387;
inline constexpr int kDesignTop = 260;
inline constexpr int kWakeIntervalMs = 700;
inline constexpr int kCompletionIntervalMs = 1500;
// How long the console has to answer the read-back of the erased range.
inline constexpr int kReadBackIntervalMs = 30000;

// Resource names of the pictures (see resources/).
inline constexpr const char* kLogoPicture = "LOGO";
inline constexpr const char* kHiddenPicture = "HIDDEN";
inline constexpr const char* kGlyphOpen = "GLYPH_OPEN";
inline constexpr const char* kGlyphClose = "GLYPH_CLOSE";
inline constexpr const char* kGlyphErase = "GLYPH_ERASE";
inline constexpr const char* kWindowIcon = "ICON_WINDOW";
inline constexpr const char* kProgramIcon = "ICON_PROGRAM";

enum class ControlKind : std::uint8_t { Image, Label, Button, ComboBox, CheckBox, StatusBar };

// One control of the layout. Written with designated initializers, naming only what differs
// from these defaults.
struct ControlLayout {
  const char* Name = "";
  ControlKind Kind = ControlKind::Label;
  gui::Rect Bounds;
  const char* Caption = "";  // caption, or the combo box's field text
  bool Enabled = true;
  bool Visible = true;
  std::uint8_t FontStyle = 0;  // gui::FontStyle bits; 0 is plain
  gui::Color FontColour = gui::clWindowText;
  int TabOrder = -1;          // -1: not a tab stop
  const char* Resource = "";  // picture or glyph; empty for none
  bool HandCursor = false;
};

// Every control, in the order of the layout.
const std::vector<ControlLayout>& Form1Controls();

// Creates the controls and the timers on an empty form and sets the window's own properties.
void LoadForm1Layout(gui::Form& form);

// The tool's serial configuration, set through the component's setters in published order.
void ConfigureCx1(TComX& port);

}  // namespace app
