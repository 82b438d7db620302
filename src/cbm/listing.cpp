#include "cbm/listing.h"

#include <algorithm>
#include <array>
#include <string>

namespace kelvane {

namespace {

constexpr std::uint8_t kQuote = 0x22;
constexpr std::uint8_t kSpace = 0x20;
constexpr std::uint8_t kShiftSpace = 0xA0;
constexpr int kNameLength = 16;

// Commodore BASIC V2 keywords for tokens $80..$CB.
constexpr std::array<const char*, 76> kKeywords = {
    "END",  "FOR",    "NEXT",    "DATA",   "INPUT#", "INPUT", "DIM",  "READ", "LET",  "GOTO",
    "RUN",  "IF",     "RESTORE", "GOSUB",  "RETURN", "REM",   "STOP", "ON",   "WAIT", "LOAD",
    "SAVE", "VERIFY", "DEF",     "POKE",   "PRINT#", "PRINT", "CONT", "LIST", "CLR",  "CMD",
    "SYS",  "OPEN",   "CLOSE",   "GET",    "NEW",    "TAB(",  "TO",   "FN",   "SPC(", "THEN",
    "NOT",  "STEP",   "+",       "-",      "*",      "/",     "^",    "AND",  "OR",   ">",
    "=",    "<",      "SGN",     "INT",    "ABS",    "USR",   "FRE",  "POS",  "SQR",  "RND",
    "LOG",  "EXP",    "COS",     "SIN",    "TAN",    "ATN",   "PEEK", "LEN",  "STR$", "VAL",
    "ASC",  "CHR$",   "LEFT$",   "RIGHT$", "MID$",   "GO"};

std::uint8_t NameByte(const TDkCbmEntry& entry, int i) {
  return i < static_cast<int>(entry.NameBytes.size()) ? entry.NameBytes[static_cast<std::size_t>(i)]
                                                      : kShiftSpace;
}

void AppendText(Bytes& out, const std::string& text) {
  out.insert(out.end(), text.begin(), text.end());
}

}  // namespace

namespace {

constexpr std::uint8_t ScreenCodeOf(std::uint8_t c) {
  if (c < 0x20) return c | 0x80;
  if (c < 0x40) return c;
  if (c < 0x60) return static_cast<std::uint8_t>(c - 0x40);
  if (c < 0x80) return static_cast<std::uint8_t>(c - 0x20);
  if (c < 0xA0) return c | 0x40;
  if (c < 0xC0) return static_cast<std::uint8_t>(c - 0x40);
  if (c < 0xFF) return static_cast<std::uint8_t>(c - 0x80);
  return 0x5E;
}

constexpr std::array<std::uint8_t, 256> kScreenCodes = [] {
  std::array<std::uint8_t, 256> table{};
  for (int c = 0; c < 256; ++c)
    table[static_cast<std::size_t>(c)] = ScreenCodeOf(static_cast<std::uint8_t>(c));
  return table;
}();

}  // namespace

std::uint8_t DkPetsciiToScreenCode(std::uint8_t c) {
  return kScreenCodes[c];
}

// The block count's padding, the quoted name (the first $A0 closes the quote, later ones are
// blanks, text hidden behind them follows), the "*" of an unclosed file, the type and the "<" of
// a locked one.
Bytes DkCbmEntryLineBody(const TDkCbmEntry& entry) {
  Bytes body;
  body.reserve(3 + 1 + kNameLength + 1 + 5);
  const int padding = entry.Blocks < 10 ? 3 : entry.Blocks < 100 ? 2 : entry.Blocks < 1000 ? 1 : 0;
  body.insert(body.end(), static_cast<std::size_t>(padding), kSpace);
  body.push_back(kQuote);
  bool closed = false;
  for (int i = 0; i < kNameLength; ++i) {
    const std::uint8_t b = NameByte(entry, i);
    if (b != kShiftSpace) {
      body.push_back(b);  // also after the quote closed: hidden text shows behind it
    } else {
      body.push_back(closed ? kSpace : kQuote);
      closed = true;
    }
  }
  body.push_back(closed ? kSpace : kQuote);
  body.push_back(entry.Closed ? kSpace : 0x2A);
  for (const char* c = DkCbmEntryTypeChars(entry); *c != '\0'; ++c) {
    body.push_back(static_cast<std::uint8_t>(*c));
  }
  body.push_back(entry.Locked ? 0x3C : kSpace);
  return body;
}

#if defined(__GNUC__)
#define KELVANE_ALWAYS_INLINE __attribute__((always_inline))
#else
#define KELVANE_ALWAYS_INLINE
#endif

// The LIST model keeps its whole state in locals and its helpers are forced inline: the cells are
// byte-sized, and if the state lived in memory every cell store could alias it and force a reload
// of all of it after each character.
TDkListCells DkListBasicLine(int line_number, ByteView body, std::uint8_t& color_io) {
  std::array<TDkListCell, kListLineCells> cells;  // set lazily, see `ready`
  const std::uint8_t blank_color = color_io;
  std::uint8_t color = color_io;
  std::size_t cursor = 0;
  std::size_t extent = 0;  // largest cursor value reached
  std::size_t ready = 0;   // cells [0, ready) are set; the rest are blank in the starting colour
  bool reverse = false;
  bool quote = false;
  bool stop = false;

  const auto blank_up_to = [&](std::size_t end) KELVANE_ALWAYS_INLINE {
    for (; ready < end; ++ready) cells[ready] = {kSpace, blank_color, false};
  };
  const auto put = [&](std::uint8_t screen_code) KELVANE_ALWAYS_INLINE {
    if (cursor >= kListLineCells) return;  // output beyond the logical line is dropped
    blank_up_to(cursor);
    cells[cursor] = {static_cast<std::uint8_t>(screen_code & 0x7F), color,
                     reverse || screen_code >= 0x80};
    extent = std::max(extent, ++cursor);
    ready = std::max(ready, cursor);
  };
  // The screen editor's output of one PETSCII character.
  const auto output = [&](std::uint8_t c) KELVANE_ALWAYS_INLINE {
    if (c == 0x0D || c == 0x8D) {
      stop = true;
    } else if (c == 0x14) {
      // DEL: the cell before the cursor goes and the rest of the line closes up.
      if (cursor > 0) {
        blank_up_to(kListLineCells);
        --cursor;
        std::copy(cells.begin() + static_cast<std::ptrdiff_t>(cursor) + 1, cells.end(),
                  cells.begin() + static_cast<std::ptrdiff_t>(cursor));
        cells.back() = {kSpace, color, false};
      }
    } else if ((c & 0x7F) >= 0x20) {
      if (c == kQuote) quote = !quote;
      put(kScreenCodes[c]);
    } else if (quote) {
      put(kScreenCodes[c]);  // a control code in quotes shows as a reverse symbol
    } else {
      switch (c) {
        case 0x05:
          color = 1;
          break;
        case 0x12:
          reverse = true;
          break;
        case 0x1C:
          color = 2;
          break;
        case 0x1D:
          if (cursor < kListLineCells) extent = std::max(extent, ++cursor);
          break;
        case 0x1E:
          color = 5;
          break;
        case 0x1F:
          color = 6;
          break;
        default:
          // Every other control code is ignored. ($92, reverse off, never comes here: outside
          // quotes LIST prints it as the keyword WAIT.)
          break;
      }
    }
  };

  char digits[8];
  char* start = digits + sizeof digits;
  *--start = '\0';
  int n = std::clamp(line_number, 0, 65535);
  do {
    *--start = static_cast<char>('0' + n % 10);
    n /= 10;
  } while (n > 0);
  for (; *start != '\0'; ++start) output(static_cast<std::uint8_t>(*start));
  output(kSpace);

  for (const std::uint8_t b : body) {
    if (b == 0) break;
    if (b < 0x80 || b == 0xFF || quote || b > 0xCB) {
      output(b);
    } else {
      for (const char* k = kKeywords[static_cast<std::size_t>(b - 0x80)]; *k != '\0'; ++k) {
        output(static_cast<std::uint8_t>(*k));
      }
    }
    if (stop) break;
  }
  blank_up_to(extent);  // cells the cursor skipped over
  color_io = color;
  return TDkListCells(cells.begin(), cells.begin() + static_cast<std::ptrdiff_t>(extent));
}

Bytes DkCbmHeaderLineBytes(ByteView disk_name, ByteView disk_id, bool leading_space) {
  Bytes out;
  out.reserve(28);
  if (leading_space) out.push_back(kSpace);
  out.push_back(0x30);  // the header is line 0
  out.push_back(kSpace);
  out.push_back(kQuote);
  for (std::size_t i = 0; i < 16; ++i) out.push_back(i < disk_name.size() ? disk_name[i] : kSpace);
  out.push_back(kQuote);
  out.push_back(kSpace);
  for (std::size_t i = 0; i < 5; ++i) out.push_back(i < disk_id.size() ? disk_id[i] : kSpace);
  return out;
}

Bytes DkCbmBlocksFreeLineBytes(int free_blocks) {
  Bytes out;
  AppendText(out, std::to_string(free_blocks) + " BLOCKS FREE.");
  return out;
}

}  // namespace kelvane
