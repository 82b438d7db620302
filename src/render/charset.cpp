#include "render/charset.h"

#include <string_view>

#include "common/format.h"

namespace kelvane {

namespace {

// The glyph sheet: "[upper]" and "[lower]" sections of bands. A band starts with "# XX: names"
// (XX the hex code of its first glyph) and has eight pixel rows, each holding one 8-character
// picture row ('#' set, '.' clear) per glyph of the band, separated by blanks. The lower/upper set
// repeats every glyph of the upper set it does not list. Codes 80-FF are the bit inverses of
// 00-7F except where a set lists a reverse glyph itself: the machine's ROM is not exactly the
// inverse everywhere.
constexpr std::string_view kSheet =
#include "render/chargen.inc"
    ;

constexpr std::size_t kSetSize = 0x800;

struct SheetReader {
  std::string_view text;
  std::size_t at = 0;

  constexpr bool Done() const { return at >= text.size(); }
  constexpr std::string_view Line() {
    const std::size_t end = text.find('\n', at);
    const std::string_view line =
        text.substr(at, end == std::string_view::npos ? text.size() - at : end - at);
    at = end == std::string_view::npos ? text.size() : end + 1;
    return line;
  }
};

constexpr int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  throw "glyph sheet: bad hex digit";
}

constexpr std::array<std::uint8_t, 4096> BuildRom() {
  std::array<std::uint8_t, 4096> rom{};
  std::array<bool, 512> seen{};  // 256 * set + code
  SheetReader reader{kSheet};
  std::size_t base = 0;
  bool in_set = false;
  while (!reader.Done()) {
    const std::string_view line = reader.Line();
    if (line.empty()) continue;
    if (line == "[upper]" || line == "[lower]") {
      base = line == "[upper]" ? 0 : kSetSize;
      if (base == kSetSize) {
        // The lower set starts as a copy of the upper one.
        for (std::size_t i = 0; i < kSetSize / 2; ++i) rom[kSetSize + i] = rom[i];
      }
      in_set = true;
      continue;
    }
    if (!in_set || line.size() < 4 || line[0] != '#') throw "glyph sheet: band header expected";
    const int first = HexDigit(line[2]) * 16 + HexDigit(line[3]);
    std::size_t count = 0;
    for (int row = 0; row < 8; ++row) {
      const std::string_view pixels = reader.Line();
      if ((pixels.size() + 1) % 9 != 0) throw "glyph sheet: pixel row of the wrong length";
      const std::size_t glyphs = (pixels.size() + 1) / 9;
      if (row == 0) count = glyphs;
      if (glyphs != count) throw "glyph sheet: rows of a band differ in length";
      for (std::size_t g = 0; g < glyphs; ++g) {
        std::uint8_t bits = 0;
        for (std::size_t b = 0; b < 8; ++b) {
          const char c = pixels[g * 9 + b];
          if (c != '#' && c != '.') throw "glyph sheet: pixels are '#' or '.'";
          if (c == '#') bits = static_cast<std::uint8_t>(bits | (0x80 >> b));
        }
        if (g + 1 < glyphs && pixels[g * 9 + 8] != ' ')
          throw "glyph sheet: glyphs are separated by one blank";
        const std::size_t code = static_cast<std::size_t>(first) + g;
        if (code >= 256) throw "glyph sheet: codes run from 00 to FF";
        rom[base + code * 8 + static_cast<std::size_t>(row)] = bits;
        if (row == 0) {
          const std::size_t key = (base == 0 ? 0 : 256) + code;
          if (seen[key]) throw "glyph sheet: a code is listed twice";
          seen[key] = true;
        }
      }
    }
  }
  for (std::size_t code = 0; code < 128; ++code) {
    if (!seen[code]) throw "glyph sheet: the upper set lacks a code";
  }
  // Codes 128-255 of each set are the reverse images of 0-127, unless the set lists its own.
  for (std::size_t set = 0; set < 2; ++set) {
    for (std::size_t i = 0; i < kSetSize / 2; ++i) {
      if (seen[256 * set + 128 + i / 8]) continue;
      rom[set * kSetSize + kSetSize / 2 + i] = static_cast<std::uint8_t>(~rom[set * kSetSize + i]);
    }
  }
  return rom;
}

constexpr std::array<std::uint8_t, 4096> kRom = BuildRom();

}  // namespace

const std::array<std::uint8_t, 4096>& DkCharacterRom() {
  return kRom;
}

TDkGlyph DkCharsetGlyph(std::uint8_t code, TDkCharset charset) {
  const std::uint8_t* source = kRom.data() + (charset == csLowerUpper ? kSetSize : 0);
  TDkGlyph glyph;
  for (std::size_t row = 0; row < 8; ++row) glyph[row] = source[std::size_t{code} * 8 + row];
  return glyph;
}

bool DkGlyphPixel(const TDkGlyph& glyph, int row, int column) {
  if (row < 0 || row > 7 || column < 0 || column > 7) {
    throw EDkRangeError(Format("DkGlyphPixel: (%d,%d) is outside the 8x8 glyph grid", row, column));
  }
  return (glyph[static_cast<std::size_t>(row)] >> (7 - column)) & 1;
}

bool DkGlyphScaledPixelXY(const TDkGlyph& glyph, int scale_x, int scale_y, int x, int y) {
  if (scale_x < 1 || scale_y < 1) {
    throw EDkRangeError(
        Format("DkGlyphScaledPixelXY: scales must be >= 1, got %dx%d", scale_x, scale_y));
  }
  if (x < 0 || y < 0) {
    throw EDkRangeError(Format("DkGlyphScaledPixelXY: (%d,%d) has a negative coordinate", x, y));
  }
  return DkGlyphPixel(glyph, y / scale_y, x / scale_x);
}

}  // namespace kelvane
