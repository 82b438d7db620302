#include "render/charset.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>

#include "support/messages.h"

namespace kelvane {
namespace {

using testing::MessageOf;

TDkGlyph Upper(std::uint8_t code) {
  return DkCharsetGlyph(code, csUpperGraphics, 0);
}

TDkGlyph Union(const TDkGlyph& a, const TDkGlyph& b) {
  TDkGlyph out;
  for (std::size_t row = 0; row < 8; ++row) out[row] = static_cast<std::uint8_t>(a[row] | b[row]);
  return out;
}

// The pixels of `glyph` within rows first..last and columns left..right.
TDkGlyph Part(const TDkGlyph& glyph, int first, int last, int left, int right) {
  const auto columns = static_cast<std::uint8_t>((0xFF >> left) & (0xFF << (7 - right)));
  TDkGlyph out{};
  for (int row = first; row <= last; ++row)
    out[static_cast<std::size_t>(row)] = glyph[static_cast<std::size_t>(row)] & columns;
  return out;
}

TDkGlyph Mirrored(TDkGlyph glyph) {
  for (auto& row : glyph) {
    std::uint8_t out = 0;
    for (int bit = 0; bit < 8; ++bit)
      out = static_cast<std::uint8_t>(out | ((row >> bit & 1) << (7 - bit)));
    row = out;
  }
  return glyph;
}

TDkGlyph Flipped(TDkGlyph glyph) {
  std::reverse(glyph.begin(), glyph.end());
  return glyph;
}

std::uint8_t Column(const TDkGlyph& glyph, int column) {
  std::uint8_t out = 0;
  for (int row = 0; row < 8; ++row)
    if (DkGlyphPixel(glyph, row, column)) out = static_cast<std::uint8_t>(out | (0x80 >> row));
  return out;
}

TEST(CharacterRom, ReverseVideoIsStoredNotComputed) {
  for (const TDkCharset charset : {csUpperGraphics, csLowerUpper}) {
    for (int code = 0x81; code <= 0xFF; ++code) {
      const TDkGlyph plain = DkCharsetGlyph(static_cast<std::uint8_t>(code - 0x80), charset, 0);
      const TDkGlyph reverse = DkCharsetGlyph(static_cast<std::uint8_t>(code), charset, 0);
      for (std::size_t row = 0; row < 8; ++row)
        ASSERT_EQ(reverse[row], static_cast<std::uint8_t>(~plain[row])) << code;
    }
    // Reverse "@": the machine's image is one pixel off the inverse of "@", in row 5.
    const TDkGlyph at = DkCharsetGlyph(0x00, charset, 0);
    const TDkGlyph reverse_at = DkCharsetGlyph(0x80, charset, 0);
    int differing = 0;
    for (std::size_t row = 0; row < 8; ++row) {
      const auto off = static_cast<std::uint8_t>(reverse_at[row] ^ ~at[row]);
      differing += std::popcount(off);
      EXPECT_TRUE(off == 0 || row == 5) << row;
    }
    EXPECT_EQ(differing, 1);
  }
  // The alternate ROM starts with a copy of the character ROM.
  const auto& rom = DkCharacterRom();
  const auto& alternate = DkAlternateCharacterRom();
  EXPECT_TRUE(std::equal(rom.begin(), rom.end(), alternate.begin()));
  EXPECT_EQ(DkCharsetGlyph(0x93, csLowerUpper, 1), DkCharsetGlyph(0x93, csLowerUpper, 0));
  EXPECT_EQ(DkCharsetGlyph(0x13, csLowerUpper, 1),
            TDkGlyph({alternate[0x1800 + 0x98], alternate[0x1800 + 0x99], alternate[0x1800 + 0x9A],
                      alternate[0x1800 + 0x9B], alternate[0x1800 + 0x9C], alternate[0x1800 + 0x9D],
                      alternate[0x1800 + 0x9E], alternate[0x1800 + 0x9F]}));
}

TEST(CharacterRom, TheTwoSetsShareEveryGlyphButTheLettersAndFourPatterns) {
  const auto own = [](int code) {
    return (code >= 0x01 && code <= 0x1A) || (code >= 0x41 && code <= 0x5A) || code == 0x5E ||
           code == 0x5F || code == 0x69 || code == 0x7A;
  };
  for (int code = 0; code < 256; ++code) {
    const auto c = static_cast<std::uint8_t>(code);
    EXPECT_EQ(Upper(c) == DkCharsetGlyph(c, csLowerUpper, 0), !own(code & 0x7F)) << code;
  }
  // The lower/upper set's capitals at 0x41-0x5A are the upper set's letters at 0x01-0x1A.
  for (std::uint8_t code = 0x01; code <= 0x1A; ++code)
    EXPECT_EQ(DkCharsetGlyph(code + 0x40, csLowerUpper, 0), Upper(code));
  // Blanks: space and shifted space are empty, their reverse images full.
  EXPECT_EQ(Upper(0x20), TDkGlyph{});
  EXPECT_EQ(Upper(0x60), TDkGlyph{});
  EXPECT_EQ(Upper(0xE0), TDkGlyph({255, 255, 255, 255, 255, 255, 255, 255}));
}

TEST(CharacterRom, LineAndBoxGlyphsJoinAcrossCells) {
  // The centre bars: two full rows (3 and 4), two full columns (3 and 4).
  const TDkGlyph across = Upper(0x40);
  const TDkGlyph down = Upper(0x42);
  EXPECT_EQ(across, TDkGlyph({0, 0, 0, 0xFF, 0xFF, 0, 0, 0}));
  for (int column = 0; column < 8; ++column)
    EXPECT_EQ(Column(down, column), column == 3 || column == 4 ? 0xFF : 0) << column;
  EXPECT_EQ(Upper(0x5D), down);

  // Every box glyph is the union of its arms, each arm reaching from the cell's edge to the
  // centre bars, so that neighbours in a row meet on the same two rows and neighbours in a
  // column on the same two columns.
  const TDkGlyph left = Part(across, 0, 7, 0, 4), right = Part(across, 0, 7, 3, 7);
  const TDkGlyph up = Part(down, 0, 4, 0, 7), below = Part(down, 3, 7, 0, 7);
  const struct {
    std::uint8_t code;
    TDkGlyph glyph;
  } boxes[] = {
      {0x43, across},
      {0x5B, Union(across, down)},   // cross
      {0x6B, Union(down, right)},    // tee right
      {0x73, Union(down, left)},     // tee left
      {0x71, Union(across, up)},     // tee up
      {0x72, Union(across, below)},  // tee down
      {0x70, Union(right, below)},   // corner down-right
      {0x6E, Union(left, below)},    // corner down-left
      {0x6D, Union(right, up)},      // corner up-right
      {0x7D, Union(left, up)},       // corner up-left
  };
  for (const auto& box : boxes) EXPECT_EQ(Upper(box.code), box.glyph) << int{box.code};

  // The rounded corners are one bend seen in four mirrors; its ends are the centre bars' ends and
  // its stroke stays two pixels thick round the bend.
  const TDkGlyph bend = Upper(0x49);  // from the left edge round to the bottom edge
  EXPECT_EQ(Upper(0x55), Mirrored(bend));
  EXPECT_EQ(Upper(0x4B), Flipped(bend));
  EXPECT_EQ(Upper(0x4A), Mirrored(Flipped(bend)));
  EXPECT_EQ(Column(bend, 0), Column(across, 0));
  EXPECT_EQ(bend[7], down[7]);
  EXPECT_EQ(bend[0], 0);
  EXPECT_EQ(Column(bend, 7), 0);
  // The machine draws its lines two pixels thick: no row or column of the bend holds one pixel.
  for (int k = 0; k < 8; ++k) {
    EXPECT_NE(std::popcount(bend[static_cast<std::size_t>(k)]), 1) << "row " << k;
    EXPECT_NE(std::popcount(Column(bend, k)), 1) << "column " << k;
  }

  // Bars off the centre step one row at a time, two rows thick.
  for (const auto& [code, top] :
       {std::pair<std::uint8_t, int>{0x45, 1}, {0x44, 2}, {0x46, 4}, {0x52, 5}}) {
    TDkGlyph bar{};
    bar[static_cast<std::size_t>(top)] = bar[static_cast<std::size_t>(top) + 1] = 0xFF;
    EXPECT_EQ(Upper(code), bar) << int{code};
  }
  // The edge bars are the quarter blocks beside them, and the corner brackets join an edge bar
  // to the upper or lower quarter.
  const TDkGlyph left_quarter = Upper(0x74), right_quarter = Upper(0x6A);
  const TDkGlyph upper_quarter = Upper(0x77), lower_quarter = Upper(0x6F);
  EXPECT_EQ(Upper(0x65), left_quarter);
  EXPECT_EQ(Upper(0x67), right_quarter);
  EXPECT_EQ(Upper(0x4F), Union(upper_quarter, left_quarter));
  EXPECT_EQ(Upper(0x50), Union(upper_quarter, right_quarter));
  EXPECT_EQ(Upper(0x4C), Union(lower_quarter, left_quarter));
  EXPECT_EQ(Upper(0x7A), Union(lower_quarter, right_quarter));
  EXPECT_EQ(std::popcount(left_quarter[0]), 2);
  EXPECT_EQ(upper_quarter[1], 0xFF);
}

TEST(CharacterRom, DiagonalFillsRunInTheCheckerboardsPhase) {
  const auto lower = [](std::uint8_t code) { return DkCharsetGlyph(code, csLowerUpper, 0); };
  const TDkGlyph fill_down = lower(0x5F);
  const TDkGlyph fill_up = lower(0x69);
  const auto rotate_right = [](std::uint8_t row) {
    return static_cast<std::uint8_t>(row >> 1 | row << 7);
  };
  // Two-pixel stripes: each row is the one above moved by a pixel, to the right going down for
  // 0x5F, to the left for 0x69, whose first row is ##..##.. on the machine.
  for (std::size_t row = 1; row < 8; ++row)
    EXPECT_EQ(fill_down[row], rotate_right(fill_down[row - 1])) << row;
  EXPECT_EQ(std::popcount(fill_down[0]), 4);
  EXPECT_EQ(fill_up, TDkGlyph({0xCC, 0x99, 0x33, 0x66, 0xCC, 0x99, 0x33, 0x66}));
  // Its reverse image is the inverse, row for row.
  const TDkGlyph reverse_up = lower(0xE9);
  for (std::size_t row = 0; row < 8; ++row)
    EXPECT_EQ(reverse_up[row], static_cast<std::uint8_t>(~fill_up[row])) << row;
  // The first row of 0x5F is the checkerboard's.
  EXPECT_EQ(fill_down[0], lower(0x5E)[0]);
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
  const struct {
    int sx, sy, x, y;
    const char* message;
  } refused[] = {
      {0, 2, -1, -1, "DkGlyphScaledPixelXY: scales must be >= 1, got 0x2"},
      {2, 0, 0, 0, "DkGlyphScaledPixelXY: scales must be >= 1, got 2x0"},
      {2, 2, 3, -4, "DkGlyphScaledPixelXY: (3,-4) has a negative coordinate"},
      {2, 2, -3, 4, "DkGlyphScaledPixelXY: (-3,4) has a negative coordinate"},
      {2, 2, 16, 0, "DkGlyphPixel: (0,8) is outside the 8x8 glyph grid"},
  };
  for (const auto& c : refused) {
    EXPECT_EQ(MessageOf<EDkRangeError>([&] { DkGlyphScaledPixelXY(a, c.sx, c.sy, c.x, c.y); }),
              c.message);
  }
}

}  // namespace
}  // namespace kelvane
