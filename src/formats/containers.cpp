#include "formats/containers.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <numeric>
#include <optional>

#include "common/format.h"

namespace kelvane {

namespace {

constexpr int kBlockData = 254;  // the data bytes of a 256-byte block after its link
constexpr std::uint8_t kShiftedBlank = 0xA0;
constexpr std::uint8_t kReturn = 0x0D;

// T64 layout.
constexpr std::size_t kT64HeaderSize = 64;
constexpr std::size_t kT64SlotSize = 32;
constexpr std::size_t kT64Slots = 34;
constexpr std::size_t kT64UsedSlots = 36;
constexpr std::size_t kT64TapeName = 40;
constexpr std::size_t kT64TapeNameLength = 24;
constexpr std::size_t kSlotEntryType = 0;
constexpr std::size_t kSlotFileType = 1;
constexpr std::size_t kSlotStart = 2;
constexpr std::size_t kSlotEnd = 4;
constexpr std::size_t kSlotOffset = 8;
constexpr std::size_t kSlotName = 16;
constexpr std::size_t kNameLength = 16;

// Lynx layout.
constexpr std::uint16_t kBasicStart = 0x0801;
constexpr int kMostBasicLines = 64;
constexpr std::size_t kLongestLine = 64;

std::size_t Le32(ByteView bytes, std::size_t at) {
  return static_cast<std::size_t>(bytes[at]) | static_cast<std::size_t>(bytes[at + 1]) << 8 |
         static_cast<std::size_t>(bytes[at + 2]) << 16 |
         static_cast<std::size_t>(bytes[at + 3]) << 24;
}

bool ContainsNoCase(ByteView text, const char* word) {
  const std::size_t length = std::strlen(word);
  for (std::size_t i = 0; i + length <= text.size(); ++i) {
    std::size_t k = 0;
    while (k < length && std::toupper(text[i + k]) == word[k]) ++k;
    if (k == length) return true;
  }
  return false;
}

// A name of up to 16 bytes as a directory holds it: trailing blanks become shifted blanks, the
// rest padded with them.
kelvane::Bytes DirectoryName(ByteView name) {
  kelvane::Bytes out(
      name.begin(), name.begin() + static_cast<std::ptrdiff_t>(std::min(name.size(), kNameLength)));
  while (!out.empty() && (out.back() == ' ' || out.back() == kShiftedBlank)) out.pop_back();
  out.resize(kNameLength, kShiftedBlank);
  return out;
}

int BlocksOf(std::size_t bytes) {
  return static_cast<int>(std::min<std::size_t>((bytes + kBlockData - 1) / kBlockData, 65535));
}

// ---- Lynx text

// The BASIC program's end (just past its zero link), or nothing when `bytes` do not start with
// one that stays inside them.
std::optional<std::size_t> BasicEnd(ByteView bytes) {
  if (bytes.size() < 4 || Le16(bytes, 0) != kBasicStart) return std::nullopt;
  std::size_t at = 2;  // file offset of address 0x0801
  for (int line = 0; line < kMostBasicLines; ++line) {
    if (at + 2 > bytes.size()) return std::nullopt;
    const int link = Le16(bytes, at);
    if (link == 0) return at + 2;
    const std::size_t next = static_cast<std::size_t>(link - kBasicStart) + 2;
    if (link < kBasicStart || next <= at + 4 || next > bytes.size()) return std::nullopt;
    at = next;
  }
  return std::nullopt;
}

// Reads the lines of a Lynx directory: each up to a return.
class LineReader {
 public:
  LineReader(ByteView bytes, std::size_t at) : bytes_(bytes), at_(at) {}

  // The next line without its return; nothing at the end or when no return comes soon enough.
  std::optional<ByteView> Next() {
    const std::size_t end = std::min(bytes_.size(), at_ + kLongestLine + 1);
    for (std::size_t i = at_; i < end; ++i) {
      if (bytes_[i] == kReturn) {
        const ByteView line = bytes_.subspan(at_, i - at_);
        at_ = i + 1;
        return line;
      }
    }
    return std::nullopt;
  }
  std::size_t Position() const { return at_; }

 private:
  ByteView bytes_;
  std::size_t at_;
};

// A number written as text with blanks around it; `rest` gets what follows it.
std::optional<int> ParseNumber(ByteView line, ByteView* rest = nullptr) {
  std::size_t i = 0;
  while (i < line.size() && line[i] == ' ') ++i;
  const std::size_t first = i;
  long value = 0;
  while (i < line.size() && line[i] >= '0' && line[i] <= '9' && i - first < 9) {
    value = value * 10 + (line[i] - '0');
    ++i;
  }
  if (i == first) return std::nullopt;
  if (rest != nullptr) {
    *rest = line.subspan(i);
  } else {
    while (i < line.size() && line[i] == ' ') ++i;
    if (i != line.size()) return std::nullopt;
  }
  return static_cast<int>(value);
}

// The line after the BASIC program (and the empty line that may follow it) that holds the
// directory's size and the stamp.
std::optional<ByteView> SignatureLine(LineReader& lines) {
  for (int skipped = 0; skipped < 2; ++skipped) {
    const std::optional<ByteView> line = lines.Next();
    if (!line) return std::nullopt;
    if (!line->empty()) return line;
  }
  return std::nullopt;
}

}  // namespace

// ---- The common base

TDkContainerImage::TDkContainerImage(TDkImageBytes bytes) : TDkCbmImage(std::move(bytes)) {}

kelvane::Bytes TDkContainerImage::ReadFile(const TDkCbmEntry& entry) const {
  const auto index = static_cast<std::size_t>(entry.Location.Index);
  if (entry.Location.Index < 0 || index >= spans_.size()) {
    throw EDkCbmMalformedDisk(
        Format("Entry %d is not in this %s.", entry.Location.Index, FormatName().c_str()));
  }
  const TSpan& span = spans_[index];
  kelvane::Bytes out = span.Prefix;
  const auto begin = bytes_.begin() + static_cast<std::ptrdiff_t>(span.Offset);
  out.insert(out.end(), begin, begin + static_cast<std::ptrdiff_t>(span.Length));
  return out;
}

kelvane::Bytes TDkContainerImage::LastLineBytes() const {
  return kelvane::Bytes(last_line_.begin(), last_line_.end());
}

void TDkContainerImage::AddFile(ByteView name, std::uint8_t type_byte, int blocks, TSpan span) {
  TDkCbmEntry entry;
  entry.NameBytes = DirectoryName(name);
  entry.Name = DkCbmNameToString(entry.NameBytes);
  // A container holds files only: a partition or directory type byte is taken as PRG.
  if ((type_byte & 7) > cftREL) type_byte = cftPRG;
  entry.RawType = static_cast<std::uint8_t>(type_byte | 0x80);
  entry.FileType = DkCbmFileTypeFromByte(type_byte & 7);
  entry.Closed = true;
  entry.Blocks = blocks;
  entry.Location.Index = static_cast<int>(spans_.size());
  entries_.push_back(std::move(entry));
  spans_.push_back(std::move(span));
}

void TDkContainerImage::SetHeader(ByteView name, const char* id) {
  disk_name_bytes_ = DirectoryName(name);
  disk_name_ = DkCbmNameToString(disk_name_bytes_);
  disk_id_bytes_.assign(5, ' ');
  std::copy_n(id, std::min<std::size_t>(std::strlen(id), 5), disk_id_bytes_.begin());
  disk_id_.assign(disk_id_bytes_.begin(), disk_id_bytes_.end());
}

// ---- T64

bool DkT64HasSignature(ByteView first_bytes) {
  return first_bytes.size() >= 3 && std::memcmp(first_bytes.data(), "C64", 3) == 0 &&
         ContainsNoCase(first_bytes.first(std::min<std::size_t>(first_bytes.size(), 32)), "TAPE");
}

std::unique_ptr<TDkT64Image> TDkT64Image::Open(TDkImageBytes bytes, bool recover) {
  std::unique_ptr<TDkT64Image> image(new TDkT64Image(std::move(bytes)));
  image->Load(recover);
  return image;
}

void TDkT64Image::Load(bool recover) {
  const ByteView bytes = bytes_;
  if (bytes.size() < kT64HeaderSize) {
    throw EDkT64Image(Format("Truncated T64 image: %zu bytes, the header alone is %zu.",
                             bytes.size(), kT64HeaderSize));
  }
  if (!DkT64HasSignature(bytes)) throw EDkT64Image("Not a T64 image: no tape signature.");
  if (recover) recovery_warnings_ = std::make_unique<TDkStringList>();
  SetHeader(bytes.subspan(kT64TapeName, kT64TapeNameLength), "T64");

  const std::size_t declared = static_cast<std::size_t>(Le16(bytes, kT64Slots));
  const std::size_t used = static_cast<std::size_t>(Le16(bytes, kT64UsedSlots));
  const std::size_t slots = declared > 0 ? declared : used;

  // The directory ends at the first file's data (or the end of the T64) whatever it claims.
  struct Slot {
    std::size_t index;
    ByteView raw;
    std::size_t offset;
  };
  std::vector<Slot> files;
  std::size_t data_start = bytes.size();
  std::size_t scanned = 0;
  for (; scanned < slots; ++scanned) {
    const std::size_t at = kT64HeaderSize + scanned * kT64SlotSize;
    if (at + kT64SlotSize > data_start) break;
    const ByteView raw = bytes.subspan(at, kT64SlotSize);
    if (raw[kSlotEntryType] == 0) continue;
    const std::size_t offset = Le32(raw, kSlotOffset);
    if (offset < kT64HeaderSize || offset > bytes.size()) {
      Damage<EDkT64Image>(recover, Format("T64 slot %zu: its data offset %zu is outside the file.",
                                          scanned, offset));
      continue;
    }
    data_start = std::min(data_start, offset);
    files.push_back({scanned, raw, offset});
  }
  if (scanned < slots) {
    Damage<EDkT64Image>(recover, Format("The T64 directory claims %zu slots; %zu fit before the "
                                        "files' data.",
                                        slots, scanned));
  }
  if (used > 0 && files.size() != used) {
    Damage<EDkT64Image>(recover, Format("The T64 header counts %zu files, its directory holds %zu.",
                                        used, files.size()));
  }

  // Each file may reach up to the next file's data or the end of the T64.
  std::vector<std::size_t> ends(files.size(), bytes.size());
  std::vector<std::size_t> order(files.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return files[a].offset < files[b].offset; });
  for (std::size_t k = 0; k + 1 < order.size(); ++k) {
    ends[order[k]] = files[order[k + 1]].offset;
  }
  for (std::size_t f = 0; f < files.size(); ++f) {
    const Slot& slot = files[f];
    const int start = Le16(slot.raw, kSlotStart);
    const int end = Le16(slot.raw, kSlotEnd);
    const std::size_t room_here = ends[f] - slot.offset;
    std::size_t length = room_here;
    if (end > start && static_cast<std::size_t>(end - start) <= room_here) {
      length = static_cast<std::size_t>(end - start);
    }
    const std::uint8_t type = slot.raw[kSlotFileType];
    const std::uint8_t type_byte = type <= 0x01 ? static_cast<std::uint8_t>(cftPRG) : type;
    TSpan span{
        slot.offset, length,
        kelvane::Bytes{static_cast<std::uint8_t>(start), static_cast<std::uint8_t>(start >> 8)}};
    AddFile(slot.raw.subspan(kSlotName, kNameLength), type_byte, BlocksOf(length + 2),
            std::move(span));
  }
  const std::size_t free_slots = declared > files.size() ? declared - files.size() : 0;
  last_line_ = Format("%zu SLOTS FREE.", free_slots);
}

// ---- Lynx

bool DkLynxHasSignature(ByteView first_bytes) {
  const std::optional<std::size_t> end = BasicEnd(first_bytes);
  if (!end) return false;
  LineReader lines(first_bytes, *end);
  const std::optional<ByteView> line = SignatureLine(lines);
  return line && ContainsNoCase(*line, "LYNX");
}

std::unique_ptr<TDkLynxImage> TDkLynxImage::Open(TDkImageBytes bytes, bool recover) {
  std::unique_ptr<TDkLynxImage> image(new TDkLynxImage(std::move(bytes)));
  image->Load(recover);
  return image;
}

void TDkLynxImage::Load(bool recover) {
  const ByteView bytes = bytes_;
  const std::optional<std::size_t> basic_end = BasicEnd(bytes);
  if (!basic_end) throw EDkLynxImage("Not a Lynx archive: no BASIC program at its start.");
  LineReader lines(bytes, *basic_end);
  const std::optional<ByteView> signature = SignatureLine(lines);
  ByteView stamp;
  const std::optional<int> directory_blocks =
      signature ? ParseNumber(*signature, &stamp) : std::nullopt;
  if (!signature || !ContainsNoCase(*signature, "LYNX") || !directory_blocks) {
    throw EDkLynxImage("Not a Lynx archive: no \"LYNX\" line after its BASIC program.");
  }
  if (recover) recovery_warnings_ = std::make_unique<TDkStringList>();
  while (!stamp.empty() && stamp.front() == ' ') stamp = stamp.subspan(1);
  SetHeader(stamp, "LNX");

  const std::optional<ByteView> count_line = lines.Next();
  const std::optional<int> count = count_line ? ParseNumber(*count_line) : std::nullopt;
  if (!count) throw EDkLynxImage("Lynx archive: the number of entries cannot be read.");
  std::size_t offset = static_cast<std::size_t>(*directory_blocks) * kBlockData;
  if (offset > bytes.size() || offset < lines.Position()) {
    Damage<EDkLynxImage>(recover, Format("The Lynx directory claims %d blocks; the file has %zu "
                                         "bytes.",
                                         *directory_blocks, bytes.size()));
    offset = std::min(bytes.size(), std::max(offset, lines.Position()));
  }

  for (int i = 0; i < *count; ++i) {
    const std::optional<ByteView> name = lines.Next();
    const std::optional<ByteView> blocks_line = lines.Next();
    const std::optional<ByteView> type_line = lines.Next();
    const std::optional<int> parsed_blocks = blocks_line ? ParseNumber(*blocks_line) : std::nullopt;
    if (!name || name->size() > kNameLength || !parsed_blocks || !type_line || type_line->empty()) {
      Damage<EDkLynxImage>(recover, Format("Lynx entry %d of %d cannot be read.", i + 1, *count));
      break;
    }
    const int blocks = *parsed_blocks;
    std::uint8_t type = cftPRG;
    switch (std::toupper((*type_line)[0])) {
      case 'S':
        type = cftSEQ;
        break;
      case 'U':
        type = cftUSR;
        break;
      case 'R':
        type = cftREL;
        lines.Next();  // the record length
        break;
      case 'D':
        type = cftDEL;
        break;
      default:
        break;
    }
    // The last block's bytes used plus one; early archives leave it out for the last entry.
    const std::optional<ByteView> last_line = lines.Next();
    const std::optional<int> last = last_line ? ParseNumber(*last_line) : std::nullopt;
    if (!last && i + 1 < *count) {
      Damage<EDkLynxImage>(recover, Format("Lynx entry %d of %d cannot be read.", i + 1, *count));
      break;
    }
    const std::size_t room = bytes.size() - std::min(offset, bytes.size());
    std::size_t length = 0;
    if (blocks > 0 && last) {
      const int used = std::clamp(*last - 1, 1, kBlockData);
      length = static_cast<std::size_t>(blocks - 1) * kBlockData + static_cast<std::size_t>(used);
    } else if (blocks > 0) {
      length = room;
    }
    if (length > room) {
      Damage<EDkLynxImage>(
          recover, Format("Lynx entry %d of %d runs past the end of the archive.", i + 1, *count));
      length = room;
    }
    AddFile(*name, type, blocks, TSpan{std::min(offset, bytes.size()), length, {}});
    offset += static_cast<std::size_t>(blocks) * kBlockData;
  }
  last_line_ = Format("%d BLOCKS IN ARCHIVE.", BlocksOf(bytes.size()));
}

}  // namespace kelvane
