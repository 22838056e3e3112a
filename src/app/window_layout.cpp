#include "app/window_layout.h"

#include <iterator>

#include "app/branding.h"
#include "app/source_menu.h"
#include "app/texts.h"

namespace quillon::window {
namespace {

constexpr TRect ButtonAt(int x, int width) { return {x, kButtonTop, width, kButtonHeight}; }

constexpr TToolButton kButtons[] = {
    {TCommand::ChooseSource, "RecBtn", texts::kRecBtnCaption, ButtonAt(4, 74), true},
    {TCommand::Save, "SaveBtn", texts::kSaveBtnCaption, ButtonAt(78, 60), false},
    {TCommand::Start, "button2", texts::kStartCaption, ButtonAt(138, 60), false},
    {TCommand::Stop, "Button1", texts::kStopCaption, ButtonAt(198, 60), false},
    {TCommand::Recover, "RecoverBtn", texts::kRecoverCaption, ButtonAt(258, 60), false},
};

using enum TTone;
using enum TShapeKind;

// The disk: a drive with its label and its light.
std::vector<TShape> DiskShapes() {
  return {{RoundRect, Dark, 12, Main, {{25, 65}, {215, 185}}, 20},
          {RoundRect, Dark, 12, Light, {{45, 85}, {195, 125}}, 10},
          {Ellipse, std::nullopt, 0, Accent, {{160, 140}, {190, 170}}}};
}

std::vector<TShape> VolumeShapes() {
  std::vector<TShape> shapes = DiskShapes();
  // One slice of the disk marked as the partition.
  shapes.push_back({Rect, Dark, 12, Accent, {{45, 85}, {105, 125}}});
  return shapes;
}

const TIcon& Make(TIconKind kind) {
  static const TIcon icons[] = {
      // ChooseDisk
      {DiskShapes(),
       {{96, 112, 136}, {48, 56, 72}, {220, 226, 236}, {40, 200, 80}}},
      // SaveFile: a floppy disk
      {{{RoundRect, Dark, 12, Main, {{35, 35}, {205, 205}}, 15},
        {Rect, Dark, 12, Light, {{65, 35}, {175, 105}}},
        {Rect, Dark, 12, Dark, {{140, 50}, {160, 90}}},
        {Rect, Dark, 12, Light, {{65, 135}, {175, 205}}}},
       {{40, 90, 180}, {20, 45, 100}, {235, 240, 250}, {40, 90, 180}}},
      // StartScan: a magnifier with a play mark
      {{{Line, Dark, 30, std::nullopt, {{145, 145}, {205, 205}}},
        {Ellipse, Main, 22, Light, {{35, 35}, {155, 155}}},
        {Polygon, std::nullopt, 0, Accent, {{80, 65}, {130, 95}, {80, 125}}}},
       {{30, 120, 60}, {40, 60, 80}, {230, 245, 235}, {30, 150, 60}}},
      // StopScan: a stop sign
      {{{Polygon, Dark, 12, Main,
         {{85, 35}, {155, 35}, {205, 85}, {205, 155}, {155, 205}, {85, 205}, {35, 155}, {35, 85}}},
        {Rect, std::nullopt, 0, Light, {{70, 105}, {170, 135}}}},
       {{200, 40, 40}, {120, 20, 20}, {255, 255, 255}, {200, 40, 40}}},
      // Recover: a database with an arrow coming out of it
      {{{Ellipse, Dark, 12, Main, {{30, 165}, {170, 215}}},
        {Rect, std::nullopt, 0, Main, {{30, 45}, {170, 190}}},
        {Line, Dark, 12, std::nullopt, {{30, 45}, {30, 190}}},
        {Line, Dark, 12, std::nullopt, {{170, 45}, {170, 190}}},
        {Ellipse, Dark, 12, Light, {{30, 20}, {170, 70}}},
        {Polygon, Dark, 10, Accent,
         {{180, 95}, {232, 150}, {200, 150}, {200, 222}, {160, 222}, {160, 150}, {128, 150}}}},
       {{70, 130, 190}, {30, 60, 100}, {225, 235, 250}, {40, 170, 70}}},
      // Volume
      {VolumeShapes(), {{96, 112, 136}, {48, 56, 72}, {220, 226, 236}, {240, 170, 40}}},
      // ImageFile: a page with a disc on it
      {{{Polygon, Dark, 12, Light, {{55, 25}, {145, 25}, {195, 75}, {195, 215}, {55, 215}}},
        {Ellipse, Dark, 12, Main, {{75, 95}, {175, 195}}},
        {Ellipse, Dark, 12, Light, {{110, 130}, {140, 160}}}},
       {{200, 170, 60}, {80, 80, 90}, {250, 250, 250}, {200, 170, 60}}},
  };
  return icons[static_cast<int>(kind)];
}

}  // namespace

std::span<const TToolButton> ToolButtons() { return kButtons; }

const TToolButton& ToolButton(TCommand command) { return kButtons[static_cast<int>(command)]; }

bool Enabled(TCommand command, TWindowState state) {
  switch (command) {
    case TCommand::Start:
    case TCommand::Recover:
      return state == TWindowState::Idle;
    default:
      return true;  // the source, the output and the stop may be given at any time
  }
}

std::string InstructionText(const std::string& lineBreak, TLanguage language) {
  std::string text;
  for (std::size_t i = 0; i < std::size(texts::kInstructionLines); ++i) {
    if (i > 0) text += lineBreak;
    text += lineBreak + texts::kInstructionLines[i].In(language);
  }
  return text;
}

std::vector<TLink> Links(TLanguage language) {
  // Below the instructions' twelve lines (kLabelHeight), 24 pixels apart.
  return {
      {"RzURLLabel2",
       std::string(branding::kServiceLabel.In(language)) + branding::kServiceNumber, 232},
      {"RzURLLabel3",
       std::string(texts::kSupportTelephonePrefix.In(language)) + branding::kSupportTelephone,
       256},
      {"RzURLLabel1", std::string(branding::kProductName) + ":" + branding::kWebAddress, 280},
  };
}

TRgb TPalette::Of(TTone tone) const {
  switch (tone) {
    case TTone::Main: return Main;
    case TTone::Dark: return Dark;
    case TTone::Light: return Light;
    case TTone::Accent: return Accent;
  }
  return Main;
}

const TIcon& Icon(TIconKind kind) { return Make(kind); }

const TPalette& GreyedPalette() {
  static const TPalette greyed{{160, 160, 160}, {120, 120, 120}, {230, 230, 230}, {180, 180, 180}};
  return greyed;
}

TIconKind IconOf(TCommand command) {
  switch (command) {
    case TCommand::ChooseSource: return TIconKind::ChooseDisk;
    case TCommand::Save: return TIconKind::SaveFile;
    case TCommand::Start: return TIconKind::StartScan;
    case TCommand::Stop: return TIconKind::StopScan;
    case TCommand::Recover: return TIconKind::Recover;
  }
  return TIconKind::ChooseDisk;
}

std::optional<TIconKind> MenuEntryIcon(int imageIndex) {
  switch (imageIndex) {
    case source_menu::kDriveImageIndex: return TIconKind::ChooseDisk;
    case source_menu::kVolumeImageIndex: return TIconKind::Volume;
    case source_menu::kOpenImageImageIndex: return TIconKind::ImageFile;
    default: return std::nullopt;
  }
}

bool ClosesAfterCommand(bool closeRequested, bool busy) { return closeRequested && !busy; }

}  // namespace quillon::window
