#include "render/charset.h"

#include <gtest/gtest.h>

#include "support/messages.h"

namespace kelvane {
namespace {

using testing::MessageOf;

TEST(CharacterRom, ReverseHalvesAreTheInverseAndSetsShareWhatTheyShould) {
  const auto& rom = DkCharacterRom();
  for (std::size_t set = 0; set < 2; ++set) {
    for (std::size_t i = 0; i < 0x400; ++i) {
      ASSERT_EQ(rom[set * 0x800 + 0x400 + i], static_cast<std::uint8_t>(~rom[set * 0x800 + i]))
          << i;
    }
  }
  // Digits and punctuation (0x20-0x3F) are the same in both sets; letters are not.
  for (std::uint8_t code = 0x20; code < 0x40; ++code) {
    EXPECT_EQ(DkCharsetGlyph(code, csUpperGraphics, 0), DkCharsetGlyph(code, csLowerUpper, 0));
  }
  EXPECT_NE(DkCharsetGlyph(0x01, csUpperGraphics, 0), DkCharsetGlyph(0x01, csLowerUpper, 0));
  // The lower/upper set's capitals at 0x41-0x5A are the upper set's letters at 0x01-0x1A.
  EXPECT_EQ(DkCharsetGlyph(0x41, csLowerUpper, 0), DkCharsetGlyph(0x01, csUpperGraphics, 0));
  EXPECT_EQ(DkCharsetGlyph(0x5A, csLowerUpper, 0), DkCharsetGlyph(0x1A, csUpperGraphics, 0));
  // Blanks: space and shifted space are empty, their reverse images full.
  EXPECT_EQ(DkCharsetGlyph(0x20, csUpperGraphics, 0), TDkGlyph{});
  EXPECT_EQ(DkCharsetGlyph(0x60, csLowerUpper, 0), TDkGlyph{});
  EXPECT_EQ(DkCharsetGlyph(0xE0, csUpperGraphics, 0),
            TDkGlyph({255, 255, 255, 255, 255, 255, 255, 255}));

  const auto& alternate = DkAlternateCharacterRom();
  EXPECT_TRUE(std::equal(rom.begin(), rom.end(), alternate.begin()));
  EXPECT_EQ(DkCharsetGlyph(0x13, csLowerUpper, 1),
            TDkGlyph({alternate[0x1800 + 0x98], alternate[0x1800 + 0x99], alternate[0x1800 + 0x9A],
                      alternate[0x1800 + 0x9B], alternate[0x1800 + 0x9C], alternate[0x1800 + 0x9D],
                      alternate[0x1800 + 0x9E], alternate[0x1800 + 0x9F]}));
}

TEST(CharacterRom, LettersHaveTheMachinesShapes) {
  // "A": a two-pixel apex, stems two pixels wide, a one-row bar, an empty last row.
  const TDkGlyph a = DkCharsetGlyph(0x01, csUpperGraphics, 0);
  EXPECT_EQ(a, TDkGlyph({0x18, 0x3C, 0x66, 0x7E, 0x66, 0x66, 0x66, 0x00}));
  // Lower-case letters with descenders reach the bottom row.
  EXPECT_NE(DkCharsetGlyph(0x07, csLowerUpper, 0)[7], 0);  // g
  EXPECT_EQ(DkCharsetGlyph(0x01, csLowerUpper, 0)[7], 0);  // a
}

TEST(GlyphPixel, GridAndScaling) {
  const TDkGlyph a = DkCharsetGlyph(0x01, csUpperGraphics, 0);
  EXPECT_FALSE(DkGlyphPixel(a, 7, 7));
  EXPECT_TRUE(DkGlyphPixel(a, 0, 3));
  EXPECT_FALSE(DkGlyphPixel(a, 0, 2));
  for (const auto& [row, column] : {std::pair{8, 0}, {0, 8}, {-1, 0}}) {
    EXPECT_EQ(MessageOf<EDkRangeError>([&] { DkGlyphPixel(a, row, column); }),
              "DkGlyphPixel: (" + std::to_string(row) + "," + std::to_string(column) +
                  ") is outside the 8x8 glyph grid");
  }
  // Nearest neighbour at every scale: each pixel becomes a scale_x by scale_y block.
  for (int sx = 1; sx <= 4; ++sx) {
    for (int sy = 1; sy <= 3; ++sy) {
      for (int y = 0; y < 8 * sy; ++y) {
        for (int x = 0; x < 8 * sx; ++x) {
          ASSERT_EQ(DkGlyphScaledPixelXY(a, sx, sy, x, y), DkGlyphPixel(a, y / sy, x / sx));
        }
      }
    }
  }
  EXPECT_EQ(DkGlyphScaledPixelXY(a, 2, 2, 15, 15), DkGlyphPixel(a, 7, 7));
  EXPECT_EQ(MessageOf<EDkRangeError>([&] { DkGlyphScaledPixelXY(a, 0, 2, -1, -1); }),
            "DkGlyphScaledPixelXY: scales must be >= 1, got 0x2");
  EXPECT_EQ(MessageOf<EDkRangeError>([&] { DkGlyphScaledPixelXY(a, 2, 2, 3, -4); }),
            "DkGlyphScaledPixelXY: (3,-4) has a negative coordinate");
  EXPECT_EQ(MessageOf<EDkRangeError>([&] { DkGlyphScaledPixelXY(a, 2, 2, 16, 0); }),
            "DkGlyphPixel: (0,8) is outside the 8x8 glyph grid");
}

}  // namespace
}  // namespace kelvane
