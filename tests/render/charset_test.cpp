#include "render/charset.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>

namespace kelvane {
namespace {

TDkGlyph Upper(std::uint8_t code) {
  return DkCharsetGlyph(code, csUpperGraphics);
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
      const TDkGlyph plain = DkCharsetGlyph(static_cast<std::uint8_t>(code - 0x80), charset);
      const TDkGlyph reverse = DkCharsetGlyph(static_cast<std::uint8_t>(code), charset);
      for (std::size_t row = 0; row < 8; ++row)
        ASSERT_EQ(reverse[row], static_cast<std::uint8_t>(~plain[row])) << code;
    }
    // Reverse "@": the machine's image is one pixel off the inverse of "@", in row 5.
    const TDkGlyph at = DkCharsetGlyph(0x00, charset);
    const TDkGlyph reverse_at = DkCharsetGlyph(0x80, charset);
    int differing = 0;
    for (std::size_t row = 0; row < 8; ++row) {
      const auto off = static_cast<std::uint8_t>(reverse_at[row] ^ ~at[row]);
      differing += std::popcount(off);
      EXPECT_TRUE(off == 0 || row == 5) << row;
    }
    EXPECT_EQ(differing, 1);
  }
}

TEST(CharacterRom, TheTwoSetsShareEveryGlyphButTheLettersAndFourPatterns) {
  const auto own = [](int code) {
    return (code >= 0x01 && code <= 0x1A) || (code >= 0x41 && code <= 0x5A) || code == 0x5E ||
           code == 0x5F || code == 0x69 || code == 0x7A;
  };
  for (int code = 0; code < 256; ++code) {
    const auto c = static_cast<std::uint8_t>(code);
    EXPECT_EQ(Upper(c) == DkCharsetGlyph(c, csLowerUpper), !own(code & 0x7F)) << code;
  }
  // The lower/upper set's capitals at 0x41-0x5A are the upper set's letters at 0x01-0x1A.
  for (std::uint8_t code = 0x01; code <= 0x1A; ++code)
    EXPECT_EQ(DkCharsetGlyph(code + 0x40, csLowerUpper), Upper(code));
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
}

// The solid rectangle a glyph's pixels make: top, left, bottom, right; {-1} when they make none.
std::array<int, 4> SolidBox(const TDkGlyph& glyph) {
  std::array<int, 4> box{8, 8, -1, -1};
  int lit = 0;
  for (int r = 0; r < 8; ++r) {
    for (int c = 0; c < 8; ++c) {
      if (!DkGlyphPixel(glyph, r, c)) continue;
      box = {std::min(box[0], r), std::min(box[1], c), std::max(box[2], r), std::max(box[3], c)};
      ++lit;
    }
  }
  const bool solid = lit > 0 && lit == (box[2] - box[0] + 1) * (box[3] - box[1] + 1);
  return solid ? box : std::array<int, 4>{-1, -1, -1, -1};
}

// Whether the box fits the block or line character `c`; true for characters of other shapes.
// The machine's bars and lines are two pixels thick where Unicode has eighths: a bar is checked
// by the edge it stands on, a line by where its top or left edge lies.
bool FitsShape(char32_t c, const std::array<int, 4>& b) {
  const bool tall = b[0] == 0 && b[2] == 7, wide = b[1] == 0 && b[3] == 7;
  if (c >= 0x1FB70 && c <= 0x1FB75) return tall && b[1] == static_cast<int>(c - 0x1FB6F);
  if (c >= 0x1FB76 && c <= 0x1FB7B) return wide && b[0] == static_cast<int>(c - 0x1FB75);
  using Box = std::array<int, 4>;
  switch (c) {
    case 0x2500:
      return wide && b[0] == 3;
    case 0x2502:
      return tall && b[1] == 3;
    case 0x258C:
      return b == Box{0, 0, 7, 3};
    case 0x2584:
      return b == Box{4, 0, 7, 7};
    case 0x2596:
      return b == Box{4, 0, 7, 3};
    case 0x2597:
      return b == Box{4, 4, 7, 7};
    case 0x2598:
      return b == Box{0, 0, 3, 3};
    case 0x259D:
      return b == Box{0, 4, 3, 7};
    case 0x258D:
    case 0x258E:
    case 0x258F:
      return tall && b[1] == 0 && b[3] < 3;
    case 0x2595:
    case 0x1FB87:
    case 0x1FB88:
      return tall && b[3] == 7 && b[1] > 4;
    case 0x2594:
    case 0x1FB82:
    case 0x1FB83:
      return wide && b[0] == 0 && b[2] < 3;
    case 0x2581:
    case 0x2582:
    case 0x2583:
      return wide && b[2] == 7 && b[0] > 4;
    default:
      return true;
  }
}

// Every character is held against its glyph: a letter or digit is drawn as the machine draws
// that letter or digit, a block or line piece has its glyph's shape, and reverse glyphs read like
// their plain ones.
TEST(GlyphCharacter, EveryCharacterLooksLikeItsGlyph) {
  for (const TDkCharset set : {csUpperGraphics, csLowerUpper}) {
    for (int code = 0; code < 256; ++code) {
      const auto plain = static_cast<std::uint8_t>(code & 0x7F);
      const char32_t c = DkGlyphCharacter(static_cast<std::uint8_t>(code), set);
      EXPECT_EQ(c, DkGlyphCharacter(plain, set));
      EXPECT_TRUE(FitsShape(c, SolidBox(DkCharsetGlyph(plain, set)))) << code << " " << set;
      const TDkGlyph glyph = DkCharsetGlyph(plain, set);
      // The code that draws the letter or digit in the set that has it.
      const int drawn = c >= 'A' && c <= 'Z' ? c - 'A' + 1 : c >= 'a' && c <= 'z' ? c - 'a' + 1 : c;
      if (std::isalnum(static_cast<int>(c)) && c < 0x80) {
        EXPECT_EQ(glyph, DkCharsetGlyph(static_cast<std::uint8_t>(drawn),
                                        c >= 'a' ? csLowerUpper : csUpperGraphics));
      }
      EXPECT_NE(c, 0u);
    }
  }
}

TEST(GlyphPixel, GridAndScaling) {
  const TDkGlyph a = DkCharsetGlyph(0x01, csUpperGraphics);
  EXPECT_FALSE(DkGlyphPixel(a, 7, 7));
  EXPECT_TRUE(DkGlyphPixel(a, 0, 3));
  EXPECT_FALSE(DkGlyphPixel(a, 0, 2));
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
  for (const auto& [sx, sy, x, y] :
       {std::tuple{0, 2, 0, 0}, {2, 0, 0, 0}, {2, 2, 3, -4}, {2, 2, -3, 4}, {2, 2, 16, 0}}) {
    EXPECT_THROW(DkGlyphScaledPixelXY(a, sx, sy, x, y), EDkRangeError);
  }
}

}  // namespace
}  // namespace kelvane
