#include "gui_win32/icons.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

#include "app/source_menu.h"

namespace quillon {
namespace {

// Shapes are laid out on a 24 x 24 grid, in tenths of a unit.
constexpr int kGrid = 240;
constexpr int kSamples = 4;  // per pixel along each axis
// Never used in an icon: what is left of it after painting is transparent.
constexpr std::uint32_t kKey = 0xFF00FF;

struct TColours {
  COLORREF Main;
  COLORREF Dark;
  COLORREF Light;
  COLORREF Accent;
};

const TColours kGreyed{RGB(160, 160, 160), RGB(120, 120, 120), RGB(230, 230, 230),
                       RGB(180, 180, 180)};
const TColours kSteel{RGB(96, 112, 136), RGB(48, 56, 72), RGB(220, 226, 236), RGB(40, 200, 80)};
const TColours kBlue{RGB(40, 90, 180), RGB(20, 45, 100), RGB(235, 240, 250), RGB(40, 90, 180)};
const TColours kGreen{RGB(30, 120, 60), RGB(40, 60, 80), RGB(230, 245, 235), RGB(30, 150, 60)};
const TColours kRed{RGB(200, 40, 40), RGB(120, 20, 20), RGB(255, 255, 255), RGB(200, 40, 40)};
const TColours kDisc{RGB(200, 170, 60), RGB(80, 80, 90), RGB(250, 250, 250), RGB(200, 170, 60)};
const TColours kPartition{RGB(96, 112, 136), RGB(48, 56, 72), RGB(220, 226, 236),
                          RGB(240, 170, 40)};

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

using TPainter = void (*)(HDC, const TColours&);

void PaintHardDisk(HDC dc, const TColours& c) {
  TPen pen(dc);
  pen.Set(c.Dark, 12, c.Main);
  ::RoundRect(dc, 25, 65, 215, 185, 40, 40);
  pen.Set(c.Dark, 12, c.Light);
  ::RoundRect(dc, 45, 85, 195, 125, 20, 20);
  pen.Set(std::nullopt, 0, c.Accent);
  ::Ellipse(dc, 160, 140, 190, 170);
}

void PaintVolume(HDC dc, const TColours& c) {
  PaintHardDisk(dc, c);
  // One slice of the disk marked as the partition.
  TPen pen(dc);
  pen.Set(c.Dark, 12, c.Accent);
  ::Rectangle(dc, 45, 85, 105, 125);
}

void PaintImageFile(HDC dc, const TColours& c) {
  TPen pen(dc);
  const POINT page[] = {{55, 25}, {145, 25}, {195, 75}, {195, 215}, {55, 215}};
  pen.Set(c.Dark, 12, c.Light);
  ::Polygon(dc, page, 5);
  pen.Set(c.Dark, 12, c.Main);
  ::Ellipse(dc, 75, 95, 175, 195);
  pen.Set(c.Dark, 12, c.Light);
  ::Ellipse(dc, 110, 130, 140, 160);
}

void PaintSave(HDC dc, const TColours& c) {
  TPen pen(dc);
  pen.Set(c.Dark, 12, c.Main);
  ::RoundRect(dc, 35, 35, 205, 205, 30, 30);
  pen.Set(c.Dark, 12, c.Light);
  ::Rectangle(dc, 65, 35, 175, 105);
  pen.Set(c.Dark, 12, c.Dark);
  ::Rectangle(dc, 140, 50, 160, 90);
  pen.Set(c.Dark, 12, c.Light);
  ::Rectangle(dc, 65, 135, 175, 205);
}

void PaintStart(HDC dc, const TColours& c) {
  TPen pen(dc);
  pen.Set(c.Dark, 30, std::nullopt);
  ::MoveToEx(dc, 145, 145, nullptr);
  ::LineTo(dc, 205, 205);
  pen.Set(c.Main, 22, c.Light);
  ::Ellipse(dc, 35, 35, 155, 155);
  const POINT play[] = {{80, 65}, {130, 95}, {80, 125}};
  pen.Set(std::nullopt, 0, c.Accent);
  ::Polygon(dc, play, 3);
}

void PaintStop(HDC dc, const TColours& c) {
  TPen pen(dc);
  const int a = 35, b = 85, d = 155, e = 205;
  const POINT octagon[] = {{b, a}, {d, a}, {e, b}, {e, d}, {d, e}, {b, e}, {a, d}, {a, b}};
  pen.Set(c.Dark, 12, c.Main);
  ::Polygon(dc, octagon, 8);
  pen.Set(std::nullopt, 0, c.Light);
  ::Rectangle(dc, 70, 105, 170, 135);
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
std::vector<std::uint32_t> Render(TPainter paint, const TColours& colours, int size) {
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
  paint(dc, colours);
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

void AddIcon(HIMAGELIST list, TPainter paint, const TColours& colours, int size) {
  const std::vector<std::uint32_t> pixels = Render(paint, colours, size);
  const HBITMAP image = ToBitmap(pixels, size);
  const HBITMAP mask = ToMask(pixels, size);
  ImageList_Add(list, image, mask);
  ::DeleteObject(image);
  ::DeleteObject(mask);
}

}  // namespace

HIMAGELIST MakeToolImageList(int size, bool greyed) {
  const HIMAGELIST list = ImageList_Create(size, size, ILC_COLOR32 | ILC_MASK, kToolIconCount, 0);
  if (list == nullptr) return nullptr;
  const struct {
    TPainter Paint;
    const TColours& Colours;
  } icons[kToolIconCount] = {
      {PaintHardDisk, kSteel}, {PaintSave, kBlue}, {PaintStart, kGreen}, {PaintStop, kRed}};
  for (const auto& icon : icons) {
    AddIcon(list, icon.Paint, greyed ? kGreyed : icon.Colours, size);
  }
  return list;
}

HBITMAP MakeMenuEntryBitmap(int imageIndex, int size) {
  switch (imageIndex) {
    case source_menu::kDriveImageIndex:
      return ToBitmap(Render(PaintHardDisk, kSteel, size), size);
    case source_menu::kVolumeImageIndex:
      return ToBitmap(Render(PaintVolume, kPartition, size), size);
    case source_menu::kOpenImageImageIndex:
      return ToBitmap(Render(PaintImageFile, kDisc, size), size);
    default:
      return nullptr;
  }
}

}  // namespace quillon
