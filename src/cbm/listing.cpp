#include "cbm/listing.h"

#include <algorithm>
#include <array>
#include <string>

#include "common/format.h"

namespace kelvane {

namespace {

constexpr std::uint8_t kQuote = 0x22;
constexpr std::uint8_t kSpace = 0x20;
constexpr std::uint8_t kShiftSpace = 0xA0;
constexpr int kNameLength = 16;

// Commodore BASIC V2 keywords for tokens $80..$CB.
constexpr std::array<const char*, 76> kKeywords = {
    "END",   "FOR",  "NEXT",   "DATA",  "INPUT#", "INPUT", "DIM",  "READ",    "LET",  "GOTO",
    "RUN",   "IF",   "RESTORE", "GOSUB", "RETURN", "REM",   "STOP", "ON",      "WAIT", "LOAD",
    "SAVE",  "VERIFY", "DEF",  "POKE",  "PRINT#", "PRINT", "CONT", "LIST",    "CLR",  "CMD",
    "SYS",   "OPEN", "CLOSE",  "GET",   "NEW",    "TAB(",  "TO",   "FN",      "SPC(", "THEN",
    "NOT",   "STEP", "+",      "-",     "*",      "/",     "^",    "AND",     "OR",   ">",
    "=",     "<",    "SGN",    "INT",   "ABS",    "USR",   "FRE",  "POS",     "SQR",  "RND",
    "LOG",   "EXP",  "COS",    "SIN",   "TAN",    "ATN",   "PEEK", "LEN",     "STR$", "VAL",
    "ASC",   "CHR$", "LEFT$",  "RIGHT$", "MID$",  "GO"};

std::uint8_t NameByte(const TDkCbmEntry& entry, int i) {
  return i < static_cast<int>(entry.NameBytes.size()) ? entry.NameBytes[static_cast<std::size_t>(i)]
                                                      : kShiftSpace;
}

void AppendText(Bytes& out, const std::string& text) { out.insert(out.end(), text.begin(), text.end()); }

void AppendTypeAndFlags(Bytes& out, const TDkCbmEntry& entry) {
  out.push_back(entry.Closed ? kSpace : 0x2A);
  AppendText(out, DkCbmFileTypeName(entry.FileType));
  out.push_back(entry.Locked ? 0x3C : kSpace);
}

int DecimalDigits(int n) {
  int digits = 1;
  while (n >= 10) {
    n /= 10;
    ++digits;
  }
  return digits;
}

// The screen editor's character output on one logical line.
class LineScreen {
 public:
  explicit LineScreen(std::uint8_t& color) : color_(color) {
    cells_.fill({kSpace, color_, false});
  }

  bool Stopped() const { return stop_; }
  bool InQuote() const { return quote_; }

  void Output(std::uint8_t c) {
    if (c == 0x0D || c == 0x8D) {
      stop_ = true;
      return;
    }
    if (c == 0x14) {
      Delete();
      return;
    }
    if ((c & 0x7F) >= 0x20) {
      if (c == kQuote) quote_ = !quote_;
      Put(DkPetsciiToScreenCode(c));
      return;
    }
    if (quote_) {
      Put(DkPetsciiToScreenCode(c));  // a control code in quotes shows as a reverse symbol
      return;
    }
    switch (c) {
      case 0x05: color_ = 1; break;
      case 0x12: reverse_ = true; break;
      case 0x1C: color_ = 2; break;
      case 0x1D:
        if (cursor_ < kListLineCells) extent_ = std::max(extent_, ++cursor_);
        break;
      case 0x1E: color_ = 5; break;
      case 0x1F: color_ = 6; break;
      case 0x92: reverse_ = false; break;
      default: break;  // every other control code is ignored
    }
  }

  void Output(const char* text) {
    for (; *text != '\0'; ++text) Output(static_cast<std::uint8_t>(*text));
  }

  TDkListCells Cells() const {
    return TDkListCells(cells_.begin(), cells_.begin() + extent_);
  }

 private:
  void Put(std::uint8_t screen_code) {
    if (cursor_ >= kListLineCells) return;
    cells_[static_cast<std::size_t>(cursor_)] = {static_cast<std::uint8_t>(screen_code & 0x7F),
                                                 color_, reverse_ || screen_code >= 0x80};
    extent_ = std::max(extent_, ++cursor_);
  }

  // DEL: the cell before the cursor goes and the rest of the line closes up.
  void Delete() {
    if (cursor_ == 0) return;
    --cursor_;
    std::copy(cells_.begin() + cursor_ + 1, cells_.end(), cells_.begin() + cursor_);
    cells_.back() = {kSpace, color_, false};
  }

  std::array<TDkListCell, kListLineCells> cells_;  // filled by the constructor
  std::uint8_t& color_;
  int cursor_ = 0;
  int extent_ = 0;
  bool reverse_ = false;
  bool quote_ = false;
  bool stop_ = false;
};

}  // namespace

std::uint8_t DkPetsciiToScreenCode(std::uint8_t c) {
  if (c < 0x20) return c | 0x80;
  if (c < 0x40) return c;
  if (c < 0x60) return static_cast<std::uint8_t>(c - 0x40);
  if (c < 0x80) return static_cast<std::uint8_t>(c - 0x20);
  if (c < 0xA0) return c | 0x40;
  if (c < 0xC0) return static_cast<std::uint8_t>(c - 0x40);
  if (c < 0xFF) return static_cast<std::uint8_t>(c - 0x80);
  return 0x5E;
}

void DkListCellColors(const TDkListCell& cell, std::uint8_t background, std::uint8_t& foreground,
                      std::uint8_t& field) {
  foreground = cell.Reverse ? background : cell.Color;
  field = cell.Reverse ? cell.Color : background;
}

namespace {

// The entry line body written into a fixed buffer (at most 3 + 1 + 16 + 1 + 5 = 26 bytes), so
// that the listing body can be built from it without a second allocation.
struct LineBody {
  std::array<std::uint8_t, 32> bytes{};
  std::size_t size = 0;
  void Push(std::uint8_t b) { bytes[size++] = b; }
};

LineBody BuildLineBody(const TDkCbmEntry& entry) {
  LineBody body;
  const int padding = entry.Blocks < 10 ? 3 : entry.Blocks < 100 ? 2 : entry.Blocks < 1000 ? 1 : 0;
  for (int i = 0; i < padding; ++i) body.Push(kSpace);
  body.Push(kQuote);
  bool closed = false;
  for (int i = 0; i < kNameLength; ++i) {
    const std::uint8_t b = NameByte(entry, i);
    if (b != kShiftSpace) {
      body.Push(b);  // also after the quote closed: hidden text shows behind it
    } else {
      body.Push(closed ? kSpace : kQuote);
      closed = true;
    }
  }
  body.Push(closed ? kSpace : kQuote);
  body.Push(entry.Closed ? kSpace : 0x2A);
  const std::string type = DkCbmFileTypeName(entry.FileType);
  for (const char c : type) body.Push(static_cast<std::uint8_t>(c));
  body.Push(entry.Locked ? 0x3C : kSpace);
  return body;
}

}  // namespace

Bytes DkCbmEntryLineBody(const TDkCbmEntry& entry) {
  const LineBody body = BuildLineBody(entry);
  return Bytes(body.bytes.begin(), body.bytes.begin() + static_cast<std::ptrdiff_t>(body.size));
}

Bytes DkCbmEntryListBody(const TDkCbmEntry& entry) {
  const int n = std::clamp(entry.Blocks, 0, 65535);
  const LineBody body = BuildLineBody(entry);
  const auto begin = body.bytes.begin();
  const std::size_t split = static_cast<std::size_t>(17 + std::max(0, 4 - DecimalDigits(n)));
  const auto head = begin + static_cast<std::ptrdiff_t>(std::min(body.size, split + 1));
  Bytes result;
  result.reserve(body.size + 2);
  if (n < 10000) result.push_back(kSpace);
  result.insert(result.end(), begin, head);
  result.push_back(kSpace);
  result.insert(result.end(), head, begin + static_cast<std::ptrdiff_t>(body.size));
  return result;
}

TDkListCells DkListBasicLine(int line_number, ByteView body, std::uint8_t& color) {
  LineScreen screen(color);
  char digits[8];
  char* end = digits + sizeof digits;
  *--end = '\0';
  int n = std::clamp(line_number, 0, 65535);
  do {
    *--end = static_cast<char>('0' + n % 10);
    n /= 10;
  } while (n > 0);
  screen.Output(end);
  screen.Output(kSpace);
  for (const std::uint8_t b : body) {
    if (b == 0) break;
    if (b < 0x80 || b == 0xFF || screen.InQuote()) {
      screen.Output(b);
    } else if (b <= 0xCB) {
      screen.Output(kKeywords[static_cast<std::size_t>(b - 0x80)]);
    } else {
      screen.Output(b);
    }
    if (screen.Stopped()) break;
  }
  return screen.Cells();
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

Bytes DkCbmEntryLineBytes(const TDkCbmEntry& entry, bool leading_space, bool wide) {
  Bytes out;
  if (leading_space) out.push_back(kSpace);
  const int blocks = std::max(entry.Blocks, 0);
  if (wide && blocks > 9999) {
    AppendText(out, std::to_string(std::min(blocks, 65535)));
  } else {
    AppendText(out, Format("%4d", std::min(blocks, 9999)));
    out.push_back(kSpace);
  }
  out.push_back(kShiftSpace);
  out.push_back(kQuote);
  const std::size_t name_start = out.size();
  for (int i = 0; i < kNameLength; ++i) {
    out.push_back(i < static_cast<int>(entry.NameBytes.size())
                      ? entry.NameBytes[static_cast<std::size_t>(i)]
                      : kSpace);
  }
  const std::size_t closing_quote = out.size();
  out.push_back(kQuote);

  // When the padding run is followed by more name bytes, the quote moves to where the run
  // starts, as the drive's listing shows it.
  const auto name = out.begin() + static_cast<std::ptrdiff_t>(name_start);
  const auto run = std::find(name, name + kNameLength, kShiftSpace);
  const auto after_run = std::find_if(run, name + kNameLength,
                                      [](std::uint8_t b) { return b != kShiftSpace; });
  const int k = after_run != name + kNameLength ? static_cast<int>(run - name) : -1;
  if (k >= 0) {
    out[name_start + static_cast<std::size_t>(k)] = kQuote;
    out[closing_quote] = kSpace;
  }
  out.push_back(kSpace);
  AppendTypeAndFlags(out, entry);
  return out;
}

Bytes DkCbmBlocksFreeLineBytes(int free_blocks) {
  Bytes out;
  AppendText(out, std::to_string(free_blocks) + " BLOCKS FREE.");
  return out;
}

}  // namespace kelvane
