#pragma once
// What the window is, free of any toolkit: its regions and controls with their places,
// captions and link texts, the toolbar icons as shapes, which commands are enabled in each
// state, and when a close request is carried out. The Qt and the Win32 window draw this
// and hand clicks to TMain; a control added here appears in both.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "app/language.h"

namespace quillon::window {

// Sizes in pixels at 96 dots per inch.
inline constexpr int kStartWidth = 789;  // the client area at start
inline constexpr int kStartHeight = 400;
inline constexpr int kToolbarHeight = 44;
inline constexpr int kStatusBarHeight = 19;
inline constexpr int kButtonLeft = 4;
inline constexpr int kButtonTop = 2;
inline constexpr int kButtonHeight = 40;
inline constexpr int kToolIconSize = 20;   // as shown on a button
inline constexpr int kSegLabelWidth = 200;
inline constexpr int kMemoWidth = 499;     // docked to the content area's right edge
inline constexpr int kLabelWidth = 289;    // Label1 at (0, 0); it grows taller for a
inline constexpr int kLabelHeight = 201;   // fallback font with taller lines
inline constexpr int kLinkLeft = 16;
inline constexpr int kFontPixels = 12;
inline constexpr int kLinkFontPixels = 13;

struct TRect {
  int X = 0;
  int Y = 0;
  int Width = 0;
  int Height = 0;
  bool operator==(const TRect&) const = default;
};

// The toolbar's commands, left to right.
enum class TCommand { ChooseSource, Save, Start, Stop, Recover };

// The window is idle, scanning (from LockControls to UnlockControls) or recovering.
enum class TWindowState { Idle, Scanning, Recovering };

struct TToolButton {
  TCommand Command;
  const char* Name;     // the control's name
  TText Caption;
  TRect Rect;           // inside the toolbar
  bool DropDown;        // with an arrow part; a click anywhere on it opens its menu
};

// The five buttons, each after the one before it.
std::span<const TToolButton> ToolButtons();
const TToolButton& ToolButton(TCommand command);

// Whether the command's button is enabled: a scan and a recovery never run at once.
bool Enabled(TCommand command, TWindowState state);

// Label1's twelve lines, the odd ones empty, joined by lineBreak ("\n" for Qt, "\r\n" for a
// Win32 static).
std::string InstructionText(const std::string& lineBreak, TLanguage language);

struct TLink {
  const char* Name;
  std::string Caption;
  int Top;  // from the content area's top; all lead to the vendor's web address
};
// RzURLLabel2, RzURLLabel3, RzURLLabel1, top to bottom.
std::vector<TLink> Links(TLanguage language);

// The toolbar icons, drawn on a 240 x 240 grid (tenths of a pixel of the 24-pixel icon),
// each shape outlined and filled in one of four colours of its icon; the greyed form
// takes the same shapes in grey.
enum class TTone { Main, Dark, Light, Accent };
struct TRgb {
  std::uint8_t R, G, B;
  bool operator==(const TRgb&) const = default;
};
struct TPalette {
  TRgb Main, Dark, Light, Accent;
  TRgb Of(TTone tone) const;
};
enum class TShapeKind {
  RoundRect,  // Points: two corners; Radius: the corners' radius
  Rect,       // Points: two corners
  Ellipse,    // Points: two corners of its box
  Polygon,    // Points: the corners, closed
  Line,       // Points: the two ends, round caps
};
struct TPoint {
  int X, Y;
};
struct TShape {
  TShapeKind Kind;
  std::optional<TTone> Stroke;  // none: no outline
  int StrokeWidth;              // in grid units
  std::optional<TTone> Fill;    // none: not filled
  std::vector<TPoint> Points;
  int Radius = 0;
};
inline constexpr int kIconGrid = 240;
enum class TIconKind { ChooseDisk, SaveFile, StartScan, StopScan, Recover, Volume, ImageFile };
struct TIcon {
  std::vector<TShape> Shapes;
  TPalette Colours;
};
const TIcon& Icon(TIconKind kind);
const TPalette& GreyedPalette();
// The icon of a toolbar command, and of a source menu entry by its image index (17 drive,
// 18 volume, 19 image file; nothing for any other index).
TIconKind IconOf(TCommand command);
std::optional<TIconKind> MenuEntryIcon(int imageIndex);

// A close request taken while a command ran: it is carried out once the outermost command
// has returned and no scan or recovery runs any more. A request while the window is busy
// waits for that end; one while it is idle closes the window at once.
bool ClosesAfterCommand(bool closeRequested, bool busy);

}  // namespace quillon::window
