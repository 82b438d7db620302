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

// The upper/graphics set's characters for codes 0x40-0x7F, in the order of the glyph sheet. Bars
// and lines two pixels thick take the Unicode piece whose edge lies where the glyph's top or left
// edge does (the machine has no one-pixel lines).
constexpr char32_t kUpperGraphics[64] = {
    U'\u2500',     U'\u2660',     U'\u2502',     U'\u2500',     U'\U0001FB77', U'\U0001FB76',
    U'\U0001FB79', U'\U0001FB71', U'\U0001FB73', U'\u256E',     U'\u2570',     U'\u256F',
    U'\U0001FB7C', U'\u2572',     U'\u2571',     U'\U0001FB7D', U'\U0001FB7E', U'\u25CF',
    U'\U0001FB7A', U'\u2665',     U'\U0001FB70', U'\u256D',     U'\u2573',     U'\u25CB',
    U'\u2663',     U'\U0001FB74', U'\u2666',     U'\u253C',     U'\U0001FB8C', U'\u2502',
    U'\u03C0',     U'\u25E5',     U'\u00A0',     U'\u258C',     U'\u2584',     U'\u2594',
    U'\u2581',     U'\u258F',     U'\u2592',     U'\u2595',     U'\U0001FB8F', U'\u25E4',
    U'\U0001FB87', U'\u251C',     U'\u2597',     U'\u2514',     U'\u2510',     U'\u2582',
    U'\u250C',     U'\u2534',     U'\u252C',     U'\u2524',     U'\u258E',     U'\u258D',
    U'\U0001FB88', U'\U0001FB82', U'\U0001FB83', U'\u2583',     U'\U0001FB7F', U'\u2596',
    U'\u259D',     U'\u2518',     U'\u2598',     U'\u259A'};

}  // namespace

char32_t DkGlyphCharacter(std::uint8_t code, TDkCharset charset) {
  code &= 0x7F;
  const bool lower = charset == csLowerUpper;
  if (code == 0x00) return U'@';
  if (code <= 0x1A) return static_cast<char32_t>((lower ? U'a' : U'A') + code - 1);
  if (code < 0x40) {
    switch (code) {
      case 0x1C:
        return U'\u00A3';  // pound
      case 0x1E:
        return U'\u2191';  // up arrow
      case 0x1F:
        return U'\u2190';  // left arrow
      default:
        return code;  // [ ] and ASCII from the space to "?"
    }
  }
  if (lower) {
    if (code >= 0x41 && code <= 0x5A) return static_cast<char32_t>(U'A' + code - 0x41);
    switch (code) {
      case 0x5E:
        return U'\U0001FB96';  // checker board, its top left corner empty
      case 0x5F:
        return U'\U0001FB98';  // diagonal fill, upper left to lower right
      case 0x69:
        return U'\U0001FB99';  // diagonal fill, upper right to lower left
      case 0x7A:
        return U'\u2713';  // check mark
      default:
        break;
    }
  }
  return kUpperGraphics[code - 0x40];
}

std::string DkScreenCodesToUtf8(ByteView codes, TDkCharset charset) {
  std::string text;
  for (const std::uint8_t code : codes) {
    const char32_t c = DkGlyphCharacter(code, charset);
    if (c < 0x80) {
      text += static_cast<char>(c);
    } else if (c < 0x800) {
      text += static_cast<char>(0xC0 | (c >> 6));
      text += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      text += static_cast<char>(0xE0 | (c >> 12));
      text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      text += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      text += static_cast<char>(0xF0 | (c >> 18));
      text += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      text += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return text;
}

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
