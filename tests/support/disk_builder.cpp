#include "support/disk_builder.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "formats/d64.h"
#include "formats/d71_d81.h"
#include "formats/d80_d82.h"
#include "write/blank.h"

namespace kelvane::testing {

std::span<std::uint8_t> SectorEditor::Sector(int track, int sector) {
  const int offset = offset_(track, sector);
  if (offset < 0 || static_cast<std::size_t>(offset) + 256 > bytes_.size()) {
    throw std::out_of_range("SectorEditor::Sector outside the image");
  }
  return std::span<std::uint8_t>(bytes_).subspan(static_cast<std::size_t>(offset), 256);
}

void SectorEditor::Link(int track, int sector, int next_track, int next_sector) {
  auto data = Sector(track, sector);
  data[0] = static_cast<std::uint8_t>(next_track);
  data[1] = static_cast<std::uint8_t>(next_sector);
}

kelvane::Bytes PaddedName(const std::string& name) {
  kelvane::Bytes bytes(16, 0xA0);
  std::copy_n(name.begin(), std::min<std::size_t>(name.size(), 16), bytes.begin());
  return bytes;
}

void SectorEditor::PutEntry(int track, int sector, int index, const EntrySpec& entry) {
  auto slot = Sector(track, sector).subspan(static_cast<std::size_t>(index) * 32, 32);
  slot[2] = entry.type;
  slot[3] = static_cast<std::uint8_t>(entry.first_track);
  slot[4] = static_cast<std::uint8_t>(entry.first_sector);
  const kelvane::Bytes name = PaddedName(entry.name);
  std::copy(name.begin(), name.end(), slot.begin() + 5);
  slot[30] = static_cast<std::uint8_t>(entry.blocks & 0xFF);
  slot[31] = static_cast<std::uint8_t>(entry.blocks >> 8);
}

kelvane::Bytes D64WithEntries(int count) {
  kelvane::Bytes bytes = BlankD64();
  SectorEditor disk(bytes, D64Offset);
  const int sectors = std::max(1, (count + 7) / 8);
  for (int s = 1; s <= sectors; ++s) {
    for (int i = 0; i < 8 && (s - 1) * 8 + i < count; ++i) {
      const int k = (s - 1) * 8 + i;
      disk.PutEntry(18, s, i, {"GAME " + std::to_string(k), 0x82, 1, 0, k});
    }
    disk.Link(18, s, s < sectors ? 18 : 0, s < sectors ? s + 1 : 255);
  }
  return bytes;
}

kelvane::Bytes DnpTreeImage() {
  kelvane::Bytes bytes = BlankDnp(1);
  SectorEditor disk(bytes, FlatOffset);
  disk.WriteFile({{1, 100}}, PatternBytes(250, 1));
  disk.WriteFile({{1, 101}, {1, 102}}, PatternBytes(400, 2));
  disk.WriteFile({{1, 103}}, PatternBytes(10, 3));
  disk.WriteFile({{1, 104}}, PatternBytes(20, 4));
  disk.PutEntry(1, 34, 0, {"FILE", 0x82, 1, 100, 1});
  disk.PutEntry(1, 34, 1, {"SUB", 0x86, 1, 70, 1});
  disk.PutEntry(1, 34, 2, {"TEXT", 0x81, 1, 104, 1});
  disk.Link(1, 70, 1, 71);  // sub-directory header -> its directory
  disk.Link(1, 71, 0, 255);
  disk.PutEntry(1, 71, 0, {"INNER", 0x82, 1, 101, 2});
  disk.PutEntry(1, 71, 1, {"DEEPER", 0x86, 1, 80, 1});
  disk.Link(1, 80, 1, 81);
  disk.Link(1, 81, 0, 255);
  disk.PutEntry(1, 81, 0, {"LEAF", 0x83, 1, 103, 1});
  return bytes;
}

kelvane::Bytes D81PartitionImage() {
  kelvane::Bytes bytes = BlankD81();
  SectorEditor disk(bytes, D81Offset);
  disk.WriteFile({{20, 0}, {20, 1}}, PatternBytes(300, 6));
  disk.PutEntry(40, 3, 0, {"README", 0x81, 20, 0, 2});
  disk.PutEntry(40, 3, 1, {"PART", 0x85, 10, 0, 160});
  disk.Link(10, 0, 10, 3);      // the partition's header -> its directory
  disk.Sector(10, 0)[2] = 'D';  // formatted by the drive, as its header says
  disk.Link(10, 3, 0, 255);
  disk.WriteFile({{11, 0}, {11, 1}, {11, 2}}, PatternBytes(600, 7));
  disk.PutEntry(10, 3, 0, {"INSIDE", 0x82, 11, 0, 3});
  return bytes;
}

void SectorEditor::WriteFile(const SectorPath& path, std::span<const std::uint8_t> data) {
  const std::size_t needed = data.empty() ? 1 : (data.size() + 253) / 254;
  if (path.size() < needed) throw std::invalid_argument("WriteFile: path too short");
  std::size_t pos = 0;
  for (std::size_t i = 0; i < needed; ++i) {
    auto sector = Sector(path[i].first, path[i].second);
    const std::size_t chunk = std::min<std::size_t>(254, data.size() - pos);
    std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(pos), chunk, sector.begin() + 2);
    pos += chunk;
    const bool last = i + 1 == needed;
    sector[0] = static_cast<std::uint8_t>(last ? 0 : path[i + 1].first);
    sector[1] = static_cast<std::uint8_t>(last ? chunk + 1 : path[i + 1].second);
  }
}

FlatImage::FlatImage(kelvane::Bytes bytes, int max_track, int sectors_per_track)
    : TDkCbmImage(std::move(bytes)), max_track_(max_track), sectors_per_track_(sectors_per_track) {}

int FlatImage::SectorsInTrack(int track) const {
  return (track >= 1 && track <= max_track_) ? sectors_per_track_ : 0;
}

int FlatImage::SectorOffset(int track, int sector) const {
  return ((track - 1) * sectors_per_track_ + sector) * 256;
}

FlatDisk::FlatDisk(int tracks, int sectors_per_track)
    : OwnedBytes{kelvane::Bytes(static_cast<std::size_t>(tracks * sectors_per_track * 256), 0)},
      SectorEditor(owned_,
                   [sectors_per_track](int track, int sector) {
                     if (track < 1 || sector < 0 || sector >= sectors_per_track) return -1;
                     return ((track - 1) * sectors_per_track + sector) * 256;
                   }),
      tracks_(tracks),
      sectors_per_track_(sectors_per_track) {}

std::unique_ptr<FlatImage> FlatDisk::Open(int max_track) const {
  return std::make_unique<FlatImage>(owned_, max_track > 0 ? max_track : tracks_,
                                     sectors_per_track_);
}

kelvane::Bytes Pc64Bytes(const kelvane::Bytes& name, const kelvane::Bytes& data,
                         std::uint8_t record_length) {
  kelvane::Bytes bytes(26, 0);
  const char signature[] = "C64File";
  std::copy(signature, signature + 7, bytes.begin());
  std::copy(name.begin(),
            name.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(name.size(), 16)),
            bytes.begin() + 8);
  bytes[25] = record_length;
  bytes.insert(bytes.end(), data.begin(), data.end());
  return bytes;
}

kelvane::Bytes PatternBytes(std::size_t length, std::uint32_t seed) {
  kelvane::Bytes bytes(length);
  std::uint32_t state = seed * 2654435761u + 1;
  for (auto& byte : bytes) {
    state = state * 1664525u + 1013904223u;
    byte = static_cast<std::uint8_t>(state >> 24);
  }
  return bytes;
}

// The drives' track zones as their manuals give them, kept here rather than asked of the readers
// so that a wrong number in a reader's table is not built into the fixtures as well.
int Sectors1541(int track) {  // tracks 36-42 of 40- and 42-track disks are in the last zone
  return track <= 17 ? 21 : track <= 24 ? 19 : track <= 30 ? 18 : 17;
}
int Sectors1571(int track) {  // the second side (36-70) repeats the first's zones
  return Sectors1541(track > 35 ? track - 35 : track);
}
int Sectors8050(int track) {  // the 8250's second side (78-154) repeats the first's zones
  const int t = track > 77 ? track - 77 : track;
  return t <= 39 ? 29 : t <= 53 ? 27 : t <= 64 ? 25 : 23;
}

namespace {

int SectorsBefore(int (*sectors)(int), int track) {
  int before = 0;
  for (int t = 1; t < track; ++t) before += sectors(t);
  return before;
}

}  // namespace

int D64Offset(int track, int sector) {
  return (SectorsBefore(Sectors1541, track) + sector) * 256;
}
int D71Offset(int track, int sector) {
  return (SectorsBefore(Sectors1571, track) + sector) * 256;
}
int D81Offset(int track, int sector) {
  return ((track - 1) * 40 + sector) * 256;
}
int D80Offset(int track, int sector) {
  return (SectorsBefore(Sectors8050, track) + sector) * 256;
}
int FlatOffset(int track, int sector) {
  return (track - 1) * 65536 + sector * 256;
}

namespace {

// Marks `sectors` sectors free in a bitmap of `bytes` bytes (bit set = free, LSB first).
void FreeBits(std::span<std::uint8_t> bitmap, int sectors) {
  std::fill(bitmap.begin(), bitmap.end(), 0);
  for (int s = 0; s < sectors; ++s)
    bitmap[static_cast<std::size_t>(s / 8)] |= static_cast<std::uint8_t>(1 << (s % 8));
}

void UseBit(std::span<std::uint8_t> bitmap, int sector) {
  bitmap[static_cast<std::size_t>(sector / 8)] &= static_cast<std::uint8_t>(~(1 << (sector % 8)));
}

void PutHeaderName(std::span<std::uint8_t> sector, int name_offset, int id_offset,
                   const char* dos_type) {
  const kelvane::Bytes name = PaddedName("TEST DISK");
  std::copy(name.begin(), name.end(), sector.begin() + name_offset);
  const std::uint8_t id[5] = {'1', '2', 0xA0, static_cast<std::uint8_t>(dos_type[0]),
                              static_cast<std::uint8_t>(dos_type[1])};
  std::copy(std::begin(id), std::end(id), sector.begin() + id_offset);
}

// Where each DOS keeps the BAM of tracks 36 and up, and the disk name and id, in sector 18/0.
struct VariantLayout {
  int extra_bam = 0;  // 0: none
  int extra_tracks = 0;
  int name = 0x90;
  int id = 0xA2;
};

VariantLayout LayoutOf(TDkD64DosVariant variant) {
  switch (variant) {
    case ddvSpeedDOS40:
      return {0xC0, 5};
    case ddvDolphin40:
      return {0xAC, 5};
    case ddvPrologic40:
      return {0x90, 5, 0xA4, 0xB6};
    case ddvExtended42:
      return {0xC0, 7};
    default:
      return {};
  }
}

// The tool's own blank, named "TEST DISK", id "12".
kelvane::Bytes Blank(TDkCbmImageFormat format, int tracks) {
  TDkNewDisk request{format, tracks, PaddedName("TEST DISK"), {'1', '2'}};
  return DkBlankImage(request);
}

kelvane::Bytes WithErrorInfo(kelvane::Bytes bytes, bool error_info) {
  if (error_info) bytes.resize(bytes.size() + bytes.size() / 256, 1);
  return bytes;
}

// A 1541-style four-byte BAM entry: free count, then three bitmap bytes.
void PutBam4(std::span<std::uint8_t> entry, int sectors, std::initializer_list<int> used) {
  FreeBits(entry.subspan(1, 3), sectors);
  for (const int s : used) UseBit(entry.subspan(1, 3), s);
  entry[0] = static_cast<std::uint8_t>(sectors - static_cast<int>(used.size()));
}

}  // namespace

kelvane::Bytes BlankD64(int tracks, bool error_info, TDkD64DosVariant variant) {
  if (variant == ddvStandard35 || variant == ddvSpeedDOS40 || variant == ddvExtended42)
    return WithErrorInfo(Blank(cifD64, tracks), error_info);
  const int sectors = SectorsBefore(Sectors1541, tracks + 1);
  kelvane::Bytes bytes(static_cast<std::size_t>(sectors) * 256, 0);
  SectorEditor disk(bytes, D64Offset);
  auto bam = disk.Sector(18, 0);
  bam[0] = 18;
  bam[1] = 1;
  bam[2] = variant == ddvPrologic40 ? 0x50 : 0x41;
  for (int t = 1; t <= 35; ++t) {
    const int n = Sectors1541(t);
    if (t == 18) {
      PutBam4(bam.subspan(4 * 18, 4), n, {0, 1});
    } else {
      PutBam4(bam.subspan(static_cast<std::size_t>(4 * t), 4), n, {});
    }
  }
  std::fill(bam.begin() + 0x90, bam.begin() + 0xAB, 0xA0);
  const VariantLayout layout = LayoutOf(variant);
  PutHeaderName(bam, layout.name, layout.id, "2A");
  if (variant == ddvPrologic40) {
    std::fill(bam.begin() + 0xA4 + 16, bam.begin() + 0xA4 + 18, 0xA0);
  }
  if (layout.extra_bam != 0 && tracks > 35) {
    for (int i = 0; i < layout.extra_tracks; ++i) {
      PutBam4(bam.subspan(static_cast<std::size_t>(layout.extra_bam + 4 * i), 4), 17, {});
    }
  }
  disk.Link(18, 1, 0, 255);
  if (error_info) bytes.resize(bytes.size() + static_cast<std::size_t>(sectors), 1);
  return bytes;
}

kelvane::Bytes BlankD71(bool error_info) {
  return WithErrorInfo(Blank(cifD71, 0), error_info);
}

kelvane::Bytes BlankD81(bool error_info) {
  return WithErrorInfo(Blank(cifD81, 0), error_info);
}

kelvane::Bytes BlankD80(bool error_info) {
  return WithErrorInfo(Blank(cifD80, 0), error_info);
}
kelvane::Bytes BlankD82(bool error_info) {
  return WithErrorInfo(Blank(cifD82, 0), error_info);
}

kelvane::Bytes BlankDnp(int tracks, bool current_layout) {
  kelvane::Bytes bytes(static_cast<std::size_t>(tracks) * 65536, 0);
  SectorEditor disk(bytes, FlatOffset);
  auto header = disk.Sector(1, 1);
  header[0] = 1;
  header[1] = 34;
  header[2] = 0x48;
  std::fill(header.begin() + 4, header.begin() + 0x1D, 0xA0);
  PutHeaderName(header, 4, 0x16, "1H");
  const std::size_t bitmap_start = current_layout ? 544 : 288;
  if (current_layout) {
    header[0x20] = 1;
    header[0x21] = 1;
    auto bam = disk.Sector(1, 2);
    bam[2] = 0x48;
    bam[3] = 0xB7;
  }
  for (int t = 1; t <= tracks && (current_layout ? t <= 255 : true); ++t) {
    auto bitmap = std::span<std::uint8_t>(bytes).subspan(
        bitmap_start + static_cast<std::size_t>(32 * (t - 1)), 32);
    FreeBits(bitmap, 256);
    // The first 64 sectors of track 1 hold the system area (header, BAM, root directory).
    if (t == 1) std::fill(bitmap.begin(), bitmap.begin() + 8, 0);
  }
  disk.Link(1, 34, 0, 255);
  return bytes;
}

kelvane::Bytes BlankDfi(int tracks) {
  return Blank(cifDfi, tracks);
}

}  // namespace kelvane::testing

#include <fstream>
#include <iterator>

namespace kelvane::testing {

kelvane::Bytes ReadTestFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open test file " + path);
  return kelvane::Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace kelvane::testing
