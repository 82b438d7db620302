#include "shell/preview_paint.h"

#include <gtest/gtest.h>

#include <vector>

namespace kelvane {
namespace {

std::uint32_t PixelAt(const Bytes& pixels, int width, int x, int y) {
  const std::size_t at = (static_cast<std::size_t>(y) * width + x) * 4;
  return pixels[at] << 16 | pixels[at + 1] << 8 | pixels[at + 2];
}

// An image `rows` listing rows of `row_height` pixels, each row's left half page background and
// its right half another colour.
TDkRenderImage TwoToneImage(int width, int rows, int row_height) {
  TDkRenderImage image;
  image.Width = width;
  image.Height = rows * row_height;
  image.Pixels.resize(static_cast<std::size_t>(width) * image.Height * 4);
  for (int y = 0; y < image.Height; ++y) {
    for (int x = 0; x < width; ++x) {
      const std::uint32_t color = x < width / 2 ? kDkPageBackground : 0x123456;
      std::uint8_t* p = &image.Pixels[(static_cast<std::size_t>(y) * width + x) * 4];
      p[0] = color >> 16 & 0xFF;
      p[1] = color >> 8 & 0xFF;
      p[2] = color & 0xFF;
      p[3] = 255;
    }
  }
  return image;
}

TEST(PreviewGeometry, ScalesWithTheScreen) {
  struct Case {
    int dpi, scale, banner, button_width, stroke, radius;
  };
  for (const Case& c : std::vector<Case>{{96, 2, 22, 28, 1, 3},
                                         {120, 2, 28, 32, 1, 4},
                                         {144, 3, 33, 42, 2, 5},
                                         {192, 4, 44, 56, 2, 6},
                                         {72, 1, 17, 18, 1, 2},
                                         {0, 2, 22, 28, 1, 3},
                                         {-7, 2, 22, 28, 1, 3}}) {
    const int row_height = KvRowHeight(KvScaleFromDpi(c.dpi));
    EXPECT_EQ(KvScaleFromDpi(c.dpi), c.scale) << c.dpi;
    EXPECT_EQ(KvScaled(960, c.dpi), c.dpi > 0 ? 10 * c.dpi : 960) << c.dpi;
    EXPECT_EQ(KvBannerHeight(true, c.dpi), c.banner) << c.dpi;
    EXPECT_EQ(KvBannerHeight(false, c.dpi), 0);
    const TKvRect button = KvButtonRect(400, row_height, c.dpi);
    EXPECT_EQ(button.Width(), c.button_width) << c.dpi;
    EXPECT_EQ(button.Height(), row_height) << c.dpi;
    EXPECT_EQ(button.Top, 0);
    EXPECT_EQ(400 - button.Right, KvScaled(8, c.dpi)) << c.dpi;
    EXPECT_EQ(KvButtonStroke(c.dpi), c.stroke) << c.dpi;
    EXPECT_EQ(KvButtonRadius(c.dpi), c.radius) << c.dpi;
  }
  // Rounded to the nearest pixel, halves up: 67 at 101 DPI is 70.49, 1 at 144 is 1.5.
  EXPECT_EQ(KvScaled(67, 101), 70);
  EXPECT_EQ(KvScaled(1, 144), 2);
  // At each of Windows' scaling steps (25% = 24 DPI) a glyph pixel is a whole number of screen
  // pixels: dpi / 48, rounded down.
  for (int dpi = 96; dpi <= 480; dpi += 24) EXPECT_EQ(KvScaleFromDpi(dpi), dpi / 48) << dpi;
  // A pane narrower than the button keeps it inside the pane, down to nothing.
  EXPECT_EQ(KvButtonRect(20, 16, 96).Left, 0);
  EXPECT_EQ(KvButtonRect(20, 16, 96).Right, 12);
  EXPECT_EQ(KvButtonRect(5, 16, 96).Width(), 0);
  EXPECT_TRUE(KvButtonRect(400, 16, 96).Contains(364, 0));
  EXPECT_FALSE(KvButtonRect(400, 16, 96).Contains(392, 0));
  EXPECT_FALSE(KvButtonRect(400, 16, 96).Contains(380, 16));
  EXPECT_FALSE(KvButtonRect(400, 16, 96).Contains(363, 5));
}

TEST(PreviewGeometry, RowsAndScrollLimits) {
  EXPECT_EQ(KvRowsNeeded(0, 100, 24), 5);  // 144 DPI, a 100-pixel pane
  EXPECT_EQ(KvRowsNeeded(0, 96, 24), 4);
  EXPECT_EQ(KvRowsNeeded(1, 96, 24), 5);
  EXPECT_EQ(KvRowsNeeded(0, 0, 16), 1);
  EXPECT_EQ(KvRowsNeeded(0, 50, 0), 1);
  EXPECT_EQ(KvLargestScroll(300, 100), 200);
  EXPECT_EQ(KvLargestScroll(80, 100), 0);
  EXPECT_TRUE(KvButtonDrawable({0, 0, 28, 16}, 1, 14));
  EXPECT_FALSE(KvButtonDrawable({0, 0, 2, 16}, 1, 14));
  EXPECT_FALSE(KvButtonDrawable({0, 0, 28, 2}, 1, 14));
  EXPECT_TRUE(KvButtonDrawable({0, 0, 28, 5}, 2, 14));  // a height just over two strokes
  EXPECT_TRUE(KvButtonDrawable({0, 0, 5, 16}, 2, 5));   // a width just over them, the icon's
  EXPECT_FALSE(KvButtonDrawable({0, 0, 4, 16}, 2, 4));  // the two strokes fill the width
  EXPECT_FALSE(KvButtonDrawable({0, 0, 10, 16}, 1, 14));
  EXPECT_FALSE(KvButtonDrawable({0, 0, 28, 16}, 1, 0));
}

TEST(PreviewGeometry, RoundedRectangleAndBlend) {
  // Radius 0 is the plain rectangle; otherwise only the corners are cut, symmetrically.
  for (int y = 0; y < 10; ++y) {
    for (int x = 0; x < 12; ++x) {
      EXPECT_TRUE(KvInsideRoundedRect(x, y, 12, 10, 0));
      const bool inside = KvInsideRoundedRect(x, y, 12, 10, 3);
      EXPECT_EQ(inside, KvInsideRoundedRect(11 - x, y, 12, 10, 3)) << x << "," << y;
      EXPECT_EQ(inside, KvInsideRoundedRect(x, 9 - y, 12, 10, 3)) << x << "," << y;
      if ((x >= 3 && x < 9) || (y >= 3 && y < 7)) {
        EXPECT_TRUE(inside) << x << "," << y;
      }
    }
  }
  EXPECT_FALSE(KvInsideRoundedRect(0, 0, 12, 10, 3));  // (1-6)^2 + (1-6)^2 = 50 > 36
  EXPECT_TRUE(KvInsideRoundedRect(1, 0, 12, 10, 3));   // 9 + 25 = 34
  EXPECT_TRUE(KvInsideRoundedRect(0, 1, 12, 10, 3));
  EXPECT_TRUE(KvInsideRoundedRect(1, 1, 12, 10, 3));

  EXPECT_EQ(KvBlend(255, 43, 0), 43);
  EXPECT_EQ(KvBlend(255, 43, 31), 68);
  EXPECT_EQ(KvBlend(255, 43, 51), 85);
  EXPECT_EQ(KvBlend(242, 10, 255), 242);
  EXPECT_EQ(KvBlend(242, 10, 128), 126);  // (242*128 + 10*127) / 255 truncated
  // A colour blended with itself stays that colour at every weight.
  for (const int a : {0, 1, 128, 255}) {
    for (int k = 0; k <= 255; ++k) ASSERT_EQ(KvBlend(a, a, k), a) << a << " " << k;
  }
}

TEST(PreviewTint, TintsTheVisiblePixelRowsOfSelectedEntries) {
  const int rh = 16;
  const TDkRenderImage image = TwoToneImage(20, 6, rh);  // header, 4 entries, blocks free
  TKvSelection selection;
  selection.Selected = {false, true, false, false};
  Bytes scratch;
  // Entry 1 is listing row 2 (pixels 32..47). From scroll 40 with 30 visible rows, its pixel
  // rows 40..47 are window rows 0..7.
  ASSERT_TRUE(KvTintSelectedRows(image, 40, 30, selection, rh, true, scratch));
  ASSERT_EQ(scratch.size(), 20u * 30 * 4);
  for (int y = 0; y < 30; ++y) {
    const bool tinted = y < 8;
    EXPECT_EQ(PixelAt(scratch, 20, 0, y), tinted ? kKvSelectionFocused : kDkPageBackground) << y;
    EXPECT_EQ(PixelAt(scratch, 20, 19, y), tinted ? kKvSelectedText : 0x123456u) << y;
  }
  ASSERT_TRUE(KvTintSelectedRows(image, 40, 30, selection, rh, false, scratch));
  EXPECT_EQ(PixelAt(scratch, 20, 3, 7), kKvSelectionUnfocused);
  ASSERT_TRUE(KvTintSelectedRows(image, 40, 1, selection, rh, true, scratch));  // one row shown
  EXPECT_EQ(PixelAt(scratch, 20, 0, 0), kKvSelectionFocused);
  // Rows one pixel high in an image one pixel wide: entry 1 is pixel row 2.
  ASSERT_TRUE(KvTintSelectedRows(TwoToneImage(1, 6, 1), 0, 6, selection, 1, true, scratch));
  EXPECT_EQ(PixelAt(scratch, 1, 0, 2), kKvSelectedText);
  EXPECT_EQ(PixelAt(scratch, 1, 0, 1), 0x123456u);

  // Not visible, or nothing selected: the image itself is the picture. The row starts at pixel
  // 32: a window of 32 rows ends just above it, one of 33 shows its first pixel row.
  EXPECT_FALSE(KvTintSelectedRows(image, 48, 30, selection, rh, true, scratch));
  EXPECT_FALSE(KvTintSelectedRows(image, 0, 32, selection, rh, true, scratch));
  ASSERT_TRUE(KvTintSelectedRows(image, 0, 33, selection, rh, true, scratch));
  EXPECT_EQ(PixelAt(scratch, 20, 0, 32), kKvSelectionFocused);
  EXPECT_EQ(PixelAt(scratch, 20, 0, 31), kDkPageBackground);
  selection.Selected = {false, false, false, false};
  EXPECT_FALSE(KvTintSelectedRows(image, 0, 96, selection, rh, true, scratch));
  // The header row is never tinted, even with a selection one past the entries.
  selection.Selected = {false, false, false, true};
  ASSERT_TRUE(KvTintSelectedRows(image, 0, 96, selection, rh, true, scratch));
  for (int y = 0; y < 96; ++y) {
    EXPECT_EQ(PixelAt(scratch, 20, 0, y) == kKvSelectionFocused, y >= 64 && y < 80) << y;
  }
  // Out of the image: refused rather than read past it.
  EXPECT_FALSE(KvTintSelectedRows(image, 90, 30, selection, rh, true, scratch));
}

TEST(PreviewButton, FaceBorderIconAndBackground) {
  const TKvRect rect = KvButtonRect(60, 16, 96);  // 28 x 16 at x 24
  ASSERT_EQ(rect.Left, 24);
  const TDkRenderImage image = TwoToneImage(40, 2, 16);  // reaches only under part of the button
  const TKvPixels picture{image.Pixels, image.Width, image.Height};
  TKvIconMask mask;
  mask.Size = 14;
  mask.Coverage.assign(14 * 14, 0);
  mask.Coverage[7 * 14 + 7] = 255;  // one covered pixel at icon (7, 7) = button (14, 8)
  mask.Coverage[7 * 14 + 8] = 128;
  mask.Coverage[0] = 255;  // the icon's first pixel = button (7, 1)
  for (const auto& [tint, face] :
       std::vector<std::pair<int, int>>{{0, 43}, {31, 68}, {51, 85}, {255, 255}}) {
    const Bytes out = KvComposeButton(picture, rect, {1, 3, tint}, mask);
    ASSERT_EQ(out.size(), 28u * 16 * 4);
    const std::uint32_t grey_face = face * 0x010101u;
    EXPECT_EQ(PixelAt(out, 28, 5, 5), grey_face);
    EXPECT_EQ(PixelAt(out, 28, 14, 8), 242 * 0x010101u);
    EXPECT_EQ(PixelAt(out, 28, 7, 1), 242 * 0x010101u);
    const int half = KvBlend(242, face, 128);
    EXPECT_EQ(PixelAt(out, 28, 15, 8), static_cast<std::uint32_t>(half) * 0x010101u);
    // A one-pixel border on every side, the face inside it.
    for (int x = 0; x < 28; ++x) {
      const std::uint32_t expected = x == 0 || x == 27 ? 72 * 0x010101u : grey_face;
      if (x < 14 || x > 15) {
        EXPECT_EQ(PixelAt(out, 28, x, 8), expected) << x;
      }
    }
    for (int y = 0; y < 16; ++y)
      EXPECT_EQ(PixelAt(out, 28, 10, y), y == 0 || y == 15 ? 72 * 0x010101u : grey_face) << y;
    // Outside the rounded corners the picture shows through: the image under the top left
    // corner, page background under the top right one, where the image does not reach.
    EXPECT_EQ(PixelAt(out, 28, 0, 0), 0x123456u);
    EXPECT_EQ(PixelAt(out, 28, 27, 0), kDkPageBackground);
    for (std::size_t i = 3; i < out.size(); i += 4) ASSERT_EQ(out[i], 255) << i;
  }
  // Without a usable mask the face is plain.
  const Bytes plain = KvComposeButton(picture, rect, {1, 3, 0}, TKvIconMask{});
  EXPECT_EQ(PixelAt(plain, 28, 14, 8), 43 * 0x010101u);
  TKvIconMask short_mask;  // a size its coverage does not have
  short_mask.Size = 14;
  short_mask.Coverage.assign(14 * 13, 255);
  EXPECT_EQ(KvComposeButton(picture, rect, {1, 3, 0}, short_mask), plain);
  // A picture that ends just under the button's last pixel shows there, outside the corner.
  const TDkRenderImage exact = TwoToneImage(52, 1, 16);
  const Bytes corner =
      KvComposeButton({exact.Pixels, exact.Width, exact.Height}, rect, {1, 3, 0}, TKvIconMask{});
  EXPECT_EQ(PixelAt(corner, 28, 27, 15), 0x123456u);
  // One that ends just left of the button leaves the pane's colour there.
  const TDkRenderImage left = TwoToneImage(24, 2, 16);
  const Bytes beside = KvComposeButton({left.Pixels, left.Width, left.Height}, rect,
                                       {1, 3, 0, 0x445566}, TKvIconMask{});
  EXPECT_EQ(PixelAt(beside, 28, 0, 0), 0x445566u);
  // Bytes past the picture's last row (a buffer kept for a larger listing) are not its pixels.
  TDkRenderImage longer = TwoToneImage(52, 1, 16);
  longer.Pixels.resize(longer.Pixels.size() * 2, 0x77);
  const Bytes below =
      KvComposeButton({longer.Pixels, longer.Width, 15}, rect, {1, 3, 0, 0x445566}, TKvIconMask{});
  EXPECT_EQ(PixelAt(below, 28, 27, 15), 0x445566u);
  // One in the picture's top left corner shows the picture's first pixel outside its corner.
  const Bytes origin =
      KvComposeButton(picture, TKvRect{0, 0, 28, 16}, {1, 3, 0, 0x445566}, TKvIconMask{});
  EXPECT_EQ(PixelAt(origin, 28, 0, 0), kDkPageBackground);
  // Border and face are symmetric top to bottom and left to right, rounded corners included.
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 28; ++x) {
      if (!KvInsideRoundedRect(x, y, 28, 16, 3)) continue;
      EXPECT_EQ(PixelAt(plain, 28, x, y), PixelAt(plain, 28, 27 - x, y)) << x << "," << y;
      EXPECT_EQ(PixelAt(plain, 28, x, y), PixelAt(plain, 28, x, 15 - y)) << x << "," << y;
    }
  }
}

}  // namespace
}  // namespace kelvane
