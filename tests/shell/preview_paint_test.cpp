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

// The button sits at the top right of the pane, a row high, inside the pane however narrow.
TEST(PreviewGeometry, TheButtonStaysInsideThePane) {
  for (const int dpi : {96, 144}) {
    const int row_height = KvRowHeight(KvScaleFromDpi(dpi));
    const TKvRect button = KvButtonRect(400, row_height, dpi);
    EXPECT_EQ(button.Top, 0);
    EXPECT_EQ(button.Height(), row_height);
    EXPECT_EQ(400 - button.Right, KvScaled(8, dpi)) << dpi;
    EXPECT_TRUE(button.Contains(button.Left, 0));
    EXPECT_FALSE(button.Contains(button.Right, 0));
    EXPECT_FALSE(button.Contains(button.Left, row_height));
  }
  EXPECT_EQ(KvButtonRect(20, 16, 96).Left, 0);
  EXPECT_EQ(KvButtonRect(5, 16, 96).Width(), 0);
  EXPECT_FALSE(KvButtonDrawable(KvButtonRect(5, 16, 96), 1, 14));
  EXPECT_TRUE(KvButtonDrawable(KvButtonRect(400, 16, 96), 1, 14));
  // Enough rows to fill a pane from any scroll position, and never a scroll past the last row.
  EXPECT_EQ(KvRowsNeeded(0, 96, 24), 4);
  EXPECT_EQ(KvRowsNeeded(1, 96, 24), 5);
  EXPECT_EQ(KvLargestScroll(300, 100), 200);
  EXPECT_EQ(KvLargestScroll(80, 100), 0);
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
  EXPECT_FALSE(KvInsideRoundedRect(0, 0, 12, 10, 3));
  // The weights' ends give either colour; a colour blended with itself stays that colour.
  EXPECT_EQ(KvBlend(255, 43, 0), 43);
  EXPECT_EQ(KvBlend(242, 10, 255), 242);
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
  // Not visible, or nothing selected: the image itself is the picture.
  EXPECT_FALSE(KvTintSelectedRows(image, 48, 30, selection, rh, true, scratch));
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
  std::uint32_t lighter_than = 0;
  for (const int tint : {0, kKvButtonHoverTint, kKvButtonPressedTint}) {
    const Bytes out = KvComposeButton(picture, rect, {1, 3, tint}, mask);
    ASSERT_EQ(out.size(), 28u * 16 * 4);
    // Hovering and pressing lighten the grey face; the icon is lighter still, a half-covered
    // pixel between the two.
    const std::uint32_t face = PixelAt(out, 28, 5, 5);
    EXPECT_GT(face, lighter_than) << tint;
    lighter_than = face;
    const std::uint32_t icon = PixelAt(out, 28, 14, 8);
    EXPECT_EQ(PixelAt(out, 28, 7, 1), icon);
    EXPECT_GT(PixelAt(out, 28, 15, 8), face);
    EXPECT_LT(PixelAt(out, 28, 15, 8), icon);
    // A one-pixel border on every side, the face inside it.
    const std::uint32_t border = PixelAt(out, 28, 0, 8);
    EXPECT_NE(border, face);
    for (const auto& [x, y] : {std::pair{27, 8}, {10, 0}, {10, 15}})
      EXPECT_EQ(PixelAt(out, 28, x, y), border);
    for (const auto& [x, y] : {std::pair{1, 8}, {26, 8}, {10, 1}, {10, 14}})
      EXPECT_EQ(PixelAt(out, 28, x, y), face);
    // Outside the rounded corners the picture shows through: the image under the top left
    // corner, page background under the top right one, where the image does not reach.
    EXPECT_EQ(PixelAt(out, 28, 0, 0), 0x123456u);
    EXPECT_EQ(PixelAt(out, 28, 27, 0), kDkPageBackground);
  }
  // Without a usable mask the face is plain; where no picture lies under a corner, the pane's
  // colour shows, and bytes past the picture's last row (a buffer kept for a larger listing) are
  // not its pixels.
  const Bytes plain = KvComposeButton(picture, rect, {1, 3, 0}, TKvIconMask{});
  EXPECT_EQ(PixelAt(plain, 28, 14, 8), PixelAt(plain, 28, 5, 5));
  TDkRenderImage longer = TwoToneImage(52, 1, 16);
  longer.Pixels.resize(longer.Pixels.size() * 2, 0x77);
  const Bytes below =
      KvComposeButton({longer.Pixels, longer.Width, 15}, rect, {1, 3, 0, 0x445566}, TKvIconMask{});
  EXPECT_EQ(PixelAt(below, 28, 27, 15), 0x445566u);
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
