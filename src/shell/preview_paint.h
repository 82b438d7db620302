#pragma once

// The preview window's geometry and pixel rules that need no window: screen scaling, rows and
// scroll limits, the charset button's place and face, the selection tint. The Windows window
// procedure paints with these; the tests check them natively.

#include <cstdint>
#include <span>

#include "common/bytes.h"
#include "render/icons.h"
#include "render/listing_render.h"
#include "shell/row_model.h"

namespace kelvane {

// 0x00BBGGRR.
inline constexpr std::uint32_t kKvSelectionFocused = 0x200080;
inline constexpr std::uint32_t kKvSelectionUnfocused = 0x383838;
inline constexpr std::uint32_t kKvSelectedText = 0xF2F2F2;
inline constexpr std::uint32_t kKvBannerText = 0x6C6C6C;
inline constexpr int kKvButtonBorder = 72;
inline constexpr int kKvButtonFace = 43;
inline constexpr int kKvButtonIcon = 242;
inline constexpr int kKvButtonPressedTint = 51;
inline constexpr int kKvButtonHoverTint = 31;

struct TKvRect {
  int Left = 0;
  int Top = 0;
  int Right = 0;
  int Bottom = 0;
  int Width() const { return Right - Left; }
  int Height() const { return Bottom - Top; }
  bool Contains(int x, int y) const { return x >= Left && x < Right && y >= Top && y < Bottom; }
};

// v at the screen's DPI: (v * dpi + 48) div 96.
int KvScaled(int value, int dpi);
// A DPI that could not be read (0 or less) counts as 96.
int KvEffectiveDpi(int dpi);
// The glyph scale: max(1, Scaled(16) div 8); 2 at 96 and 120 DPI, 3 at 144, 4 at 192.
int KvScaleFromDpi(int dpi);
inline int KvRowHeight(int scale) {
  return 8 * scale;
}
int KvBannerHeight(bool has_banner, int dpi);
// Listing rows that fill a client area `client_height` high at scroll offset `scroll`.
int KvRowsNeeded(int scroll, int client_height, int row_height);
int KvLargestScroll(int image_height, int view_height);

// The charset button in the top right corner of a pane `pane_width` wide.
TKvRect KvButtonRect(int pane_width, int row_height, int dpi);
int KvButtonStroke(int dpi);
int KvButtonRadius(int dpi);
// The icon's side for a button of row height `row_height` and stroke `stroke`.
inline int KvButtonIconSize(int row_height, int stroke) {
  return row_height - 2 * stroke;
}
// Whether a button of this size can be drawn at all.
bool KvButtonDrawable(const TKvRect& rect, int stroke, int icon_size);

// Pixel (x, y) of a w x h box with corner radius r, tested at the pixel's centre.
bool KvInsideRoundedRect(int x, int y, int w, int h, int r);
// (a * k + b * (255 - k)) div 255.
int KvBlend(int a, int b, int k);

// 32-bit pixels (blue, green, red, alpha), `Width` per row, top to bottom.
struct TKvPixels {
  std::span<const std::uint8_t> Bytes;
  int Width = 0;
  int Height = 0;
};

// The visible part of `image` from pixel row `scroll` on, with every selected listing row tinted:
// page-coloured pixels become the selection colour, all others near-white. False, and `scratch`
// left alone, when no selected row is visible (the image itself is then the picture); otherwise
// `scratch` holds image width x visible height pixels.
bool KvTintSelectedRows(const TDkRenderImage& image, int scroll, int visible_height,
                        const TKvSelection& selection, int row_height, bool focused,
                        Bytes& scratch);

struct TKvButtonLook {
  int Stroke = 1;
  int Radius = 0;
  int Tint = 0;                                  // face tint: pressed, hover or none
  std::uint32_t Background = kDkPageBackground;  // the pane's colour where the picture ends
};

// The button's w x h pixels over `picture` (whose pixel (0, 0) is at the window's origin; the
// look's background where it does not reach), with the icon `mask` centred on the face.
Bytes KvComposeButton(const TKvPixels& picture, const TKvRect& rect, const TKvButtonLook& look,
                      const TKvIconMask& mask);

}  // namespace kelvane
