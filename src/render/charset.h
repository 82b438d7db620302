#pragma once

// The machine's character generator: two charsets of 256 8x8 glyphs each, and the pixel queries
// the listing renderer builds its scaled tiles from. The glyph pictures are kept as a reviewable
// text sheet (chargen.inc) that is turned into the ROM table at compile time.

#include <array>
#include <cstdint>
#include <string>

#include "common/bytes.h"
#include "common/exception.h"

namespace kelvane {

// The two charsets of the character ROM; the ordinal is what the per-user setting keeps.
enum TDkCharset : int {
  csUpperGraphics = 0,  // upper-case letters and graphics, the set shown after power-on
  csLowerUpper = 1,     // lower-case and upper-case letters
};

// One glyph: a byte per pixel row from the top; bit 7 is the leftmost pixel.
using TDkGlyph = std::array<std::uint8_t, 8>;

// Raised by the pixel queries for coordinates outside a glyph.
class EDkRangeError : public Exception {
 public:
  using Exception::Exception;
};

// The 4096-byte ROM: the upper/graphics set at 0x000, the lower/upper set at 0x800, 256 glyphs
// each; codes 128-255 are the reverse images of 0-127 as the ROM stores them.
const std::array<std::uint8_t, 4096>& DkCharacterRom();
// Glyph `code` of a charset.
TDkGlyph DkCharsetGlyph(std::uint8_t code, TDkCharset charset);

// The Unicode character that looks like glyph `code` of a charset: letters, digits and punctuation
// as themselves, line and box pieces from Box Drawing and Block Elements, the rest from Geometric
// Shapes and Symbols for Legacy Computing. Reverse glyphs (128-255) have no form of their own and
// map like their plain glyph.
char32_t DkGlyphCharacter(std::uint8_t code, TDkCharset charset);
// Screen codes as UTF-8 text of those characters.
std::string DkScreenCodesToUtf8(ByteView codes, TDkCharset charset);

// The pixel at (row, column), both 0..7.
bool DkGlyphPixel(const TDkGlyph& glyph, int row, int column);

// The pixel at (x, y) of the glyph enlarged scale_x times horizontally and scale_y times
// vertically (nearest neighbour).
bool DkGlyphScaledPixelXY(const TDkGlyph& glyph, int scale_x, int scale_y, int x, int y);

}  // namespace kelvane
