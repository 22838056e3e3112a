#include "gui_win32/icons.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

#include "app/window_layout.h"

namespace quillon {
namespace {

// Shapes are laid out on a 24 x 24 grid, in tenths of a unit.
constexpr int kGrid = 240;
constexpr int kSamples = 4;  // per pixel along each axis
// Never used in an icon: what is left of it after painting is transparent.
constexpr std::uint32_t kKey = 0xFF00FF;

// The pen and brush in a device context, swapped and deleted as a unit.
class TPen {
 public:
  explicit TPen(HDC dc) : dc_(dc) {}
  TPen(const TPen&) = delete;
  TPen& operator=(const TPen&) = delete;
  ~TPen() { Release(); }

  // An outline of the colour and width (in grid tenths), or none; a fill, or none.
  void Set(std::optional<COLORREF> line, int width, std::optional<COLORREF> fill) {
    Release();
    if (line) {
      LOGBRUSH stroke{BS_SOLID, *line, 0};
      pen_ = ::ExtCreatePen(PS_GEOMETRIC | PS_SOLID | PS_ENDCAP_ROUND | PS_JOIN_ROUND, width,
                            &stroke, 0, nullptr);
      ::SelectObject(dc_, pen_);
    } else {
      ::SelectObject(dc_, ::GetStockObject(NULL_PEN));
    }
    if (fill) {
      brush_ = ::CreateSolidBrush(*fill);
      ::SelectObject(dc_, brush_);
    } else {
      ::SelectObject(dc_, ::GetStockObject(NULL_BRUSH));
    }
  }

 private:
  void Release() {
    ::SelectObject(dc_, ::GetStockObject(NULL_PEN));
    ::SelectObject(dc_, ::GetStockObject(NULL_BRUSH));
    if (pen_ != nullptr) ::DeleteObject(pen_);
    if (brush_ != nullptr) ::DeleteObject(brush_);
    pen_ = nullptr;
    brush_ = nullptr;
  }

  HDC dc_;
  HPEN pen_ = nullptr;
  HBRUSH brush_ = nullptr;
};

COLORREF ColourOf(const window::TRgb& rgb) { return RGB(rgb.R, rgb.G, rgb.B); }

void Paint(HDC dc, const window::TIcon& icon, const window::TPalette& palette) {
  TPen pen(dc);
  for (const window::TShape& shape : icon.Shapes) {
    pen.Set(shape.Stroke ? std::optional<COLORREF>(ColourOf(palette.Of(*shape.Stroke)))
                         : std::nullopt,
            shape.StrokeWidth,
            shape.Fill ? std::optional<COLORREF>(ColourOf(palette.Of(*shape.Fill))) : std::nullopt);
    std::vector<POINT> points;
    for (const window::TPoint& point : shape.Points) points.push_back({point.X, point.Y});
    switch (shape.Kind) {
      case window::TShapeKind::RoundRect:
        ::RoundRect(dc, points[0].x, points[0].y, points[1].x, points[1].y, 2 * shape.Radius,
                    2 * shape.Radius);
        break;
      case window::TShapeKind::Rect:
        ::Rectangle(dc, points[0].x, points[0].y, points[1].x, points[1].y);
        break;
      case window::TShapeKind::Ellipse:
        ::Ellipse(dc, points[0].x, points[0].y, points[1].x, points[1].y);
        break;
      case window::TShapeKind::Line:
        ::MoveToEx(dc, points[0].x, points[0].y, nullptr);
        ::LineTo(dc, points[1].x, points[1].y);
        break;
      case window::TShapeKind::Polygon:
        ::Polygon(dc, points.data(), static_cast<int>(points.size()));
        break;
    }
  }
}

HBITMAP MakeDib(int width, int height, void** bits) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down rows
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  return ::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, bits, nullptr, 0);
}

// The icon as size x size pixels 0xAARRGGBB, premultiplied, rows from the top.
std::vector<std::uint32_t> Render(const window::TIcon& icon, const window::TPalette& colours,
                                  int size) {
  const int big = size * kSamples;
  void* bits = nullptr;
  const HBITMAP canvas = MakeDib(big, big, &bits);
  const HDC dc = ::CreateCompatibleDC(nullptr);
  const HGDIOBJ before = ::SelectObject(dc, canvas);
  auto* samples = static_cast<std::uint32_t*>(bits);
  std::fill(samples, samples + big * big, kKey);

  ::SetGraphicsMode(dc, GM_ADVANCED);
  const float scale = static_cast<float>(big) / kGrid;
  const XFORM toPixels{scale, 0, 0, scale, 0, 0};
  ::SetWorldTransform(dc, &toPixels);
  Paint(dc, icon, colours);
  ::GdiFlush();

  std::vector<std::uint32_t> pixels(static_cast<std::size_t>(size) * size);
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      unsigned covered = 0, red = 0, green = 0, blue = 0;
      for (int sy = 0; sy < kSamples; ++sy) {
        for (int sx = 0; sx < kSamples; ++sx) {
          const std::uint32_t sample =
              samples[(y * kSamples + sy) * big + x * kSamples + sx] & 0xFFFFFF;
          if (sample == kKey) continue;
          ++covered;
          red += (sample >> 16) & 0xFF;
          green += (sample >> 8) & 0xFF;
          blue += sample & 0xFF;
        }
      }
      // Premultiplied: each channel is the sum over all samples, transparent ones as 0.
      constexpr unsigned n = kSamples * kSamples;
      pixels[static_cast<std::size_t>(y) * size + x] =
          (covered * 255 / n) << 24 | (red / n) << 16 | (green / n) << 8 | (blue / n);
    }
  }
  ::SelectObject(dc, before);
  ::DeleteDC(dc);
  ::DeleteObject(canvas);
  return pixels;
}

HBITMAP ToBitmap(const std::vector<std::uint32_t>& pixels, int size) {
  void* bits = nullptr;
  const HBITMAP bitmap = MakeDib(size, size, &bits);
  if (bitmap != nullptr) std::copy(pixels.begin(), pixels.end(), static_cast<std::uint32_t*>(bits));
  return bitmap;
}

// Where the 32-bit image lists of older common controls cannot blend: the mostly opaque
// pixels, white in a monochrome mask for those that are not.
HBITMAP ToMask(const std::vector<std::uint32_t>& pixels, int size) {
  const int stride = (size + 15) / 16 * 2;  // monochrome rows are WORD aligned
  std::vector<std::uint8_t> rows(static_cast<std::size_t>(stride) * size, 0);
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      if ((pixels[static_cast<std::size_t>(y) * size + x] >> 24) < 128) {
        rows[static_cast<std::size_t>(y) * stride + x / 8] |=
            static_cast<std::uint8_t>(0x80 >> (x % 8));
      }
    }
  }
  return ::CreateBitmap(size, size, 1, 1, rows.data());
}

void AddIcon(HIMAGELIST list, const window::TIcon& icon, const window::TPalette& colours,
             int size) {
  const std::vector<std::uint32_t> pixels = Render(icon, colours, size);
  const HBITMAP image = ToBitmap(pixels, size);
  const HBITMAP mask = ToMask(pixels, size);
  ImageList_Add(list, image, mask);
  ::DeleteObject(image);
  ::DeleteObject(mask);
}

}  // namespace

HIMAGELIST MakeToolImageList(int size, bool greyed) {
  const auto buttons = window::ToolButtons();
  const HIMAGELIST list =
      ImageList_Create(size, size, ILC_COLOR32 | ILC_MASK, static_cast<int>(buttons.size()), 0);
  if (list == nullptr) return nullptr;
  for (const window::TToolButton& button : buttons) {
    const window::TIcon& icon = window::Icon(window::IconOf(button.Command));
    AddIcon(list, icon, greyed ? window::GreyedPalette() : icon.Colours, size);
  }
  return list;
}

HBITMAP MakeMenuEntryBitmap(int imageIndex, int size) {
  const std::optional<window::TIconKind> kind = window::MenuEntryIcon(imageIndex);
  if (!kind) return nullptr;
  const window::TIcon& icon = window::Icon(*kind);
  return ToBitmap(Render(icon, icon.Colours, size), size);
}

}  // namespace quillon
