#pragma once

// Test-side disk images: blank images per format, built the way each drive formats a disk, and
// an editor that places directory entries and file chains by hand.

#include <functional>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "cbm/d64_variant.h"
#include "cbm/image.h"

namespace kelvane::testing {

struct EntrySpec {
  std::string name;          // ASCII; capitals stay as they are (PETSCII $41-$5A)
  std::uint8_t type = 0x82;  // closed PRG
  int first_track = 0;
  int first_sector = 0;
  int blocks = 0;
};

using SectorPath = std::vector<std::pair<int, int>>;
using OffsetFunc = std::function<int(int track, int sector)>;

// Edits sectors of an image held elsewhere; `offset` gives a sector's byte offset.
class SectorEditor {
 public:
  SectorEditor(kelvane::Bytes& bytes, OffsetFunc offset)
      : bytes_(bytes), offset_(std::move(offset)) {}

  std::span<std::uint8_t> Sector(int track, int sector);
  void Link(int track, int sector, int next_track, int next_sector);
  // Writes a directory slot (type, name padded with $A0, first sector, blocks).
  void PutEntry(int track, int sector, int index, const EntrySpec& entry);
  // Writes `data` along `path` as a file chain; the path must hold enough sectors.
  void WriteFile(const SectorPath& path, std::span<const std::uint8_t> data);

 private:
  kelvane::Bytes& bytes_;
  OffsetFunc offset_;
};

// A reader over flat geometry (every track the same sector count). `max_track` may exceed the
// tracks present in the bytes, the way a D64 reader accepts track 42 on a 35-track image.
class FlatImage : public TDkCbmImage {
 public:
  FlatImage(kelvane::Bytes bytes, int max_track, int sectors_per_track);

  int MaxTrack() const override { return max_track_; }
  int SectorsInTrack(int track) const override;
  int SectorOffset(int track, int sector) const override;
  std::string FormatName() const override { return "TST"; }

  using TDkCbmImage::LoadDirectory;

 private:
  int max_track_;
  int sectors_per_track_;
};

struct OwnedBytes {
  kelvane::Bytes owned_;
};

// A disk of flat geometry that owns its bytes (held in a base so they exist before the editor).
class FlatDisk : private OwnedBytes, public SectorEditor {
 public:
  FlatDisk(int tracks, int sectors_per_track);
  FlatDisk(const FlatDisk&) = delete;
  FlatDisk& operator=(const FlatDisk&) = delete;
  const kelvane::Bytes& Bytes() const { return owned_; }
  std::unique_ptr<FlatImage> Open(int max_track = 0) const;

 private:
  int tracks_;
  int sectors_per_track_;
};

// Name bytes as a directory slot stores them: ASCII copied, padded with $A0 to 16.
kelvane::Bytes PaddedName(const std::string& name);

// A PC64 file (P00 and kin): signature, the stored name (at most 16 bytes), the REL record
// length, then the payload.
kelvane::Bytes Pc64Bytes(const kelvane::Bytes& name, const kelvane::Bytes& data,
                         std::uint8_t record_length = 0);

// Deterministic filler bytes for file contents.
kelvane::Bytes PatternBytes(std::size_t length, std::uint32_t seed);

// Freshly formatted images named "TEST DISK" with id "12", empty directory, every sector free
// except the drive's system sectors. An error-info block, when asked for, is all 1 (no error).
kelvane::Bytes BlankD64(int tracks = 35, bool error_info = false,
                        TDkD64DosVariant variant = ddvStandard35);
kelvane::Bytes BlankD71(bool error_info = false);
kelvane::Bytes BlankD81(bool error_info = false);
kelvane::Bytes BlankD80(bool error_info = false);
kelvane::Bytes BlankD82(bool error_info = false);
kelvane::Bytes BlankDnp(int tracks, bool current_layout = true);
kelvane::Bytes BlankDfi(int tracks);

// A blank D64 whose directory chain (18/1 onwards) holds `count` (at most 144) closed PRG entries
// "GAME 0", "GAME 1", ..., entry k claiming k blocks; the files themselves are not written.
kelvane::Bytes D64WithEntries(int count);

// A DNP whose root holds FILE (250 bytes of pattern 1), SUB (a sub-directory holding INNER, 400
// bytes of pattern 2, and DEEPER, a further sub-directory holding LEAF, 10 bytes of pattern 3)
// and TEXT (20 bytes of pattern 4). SUB's header is 1/70, its directory 1/71; DEEPER's 1/80, 1/81.
kelvane::Bytes DnpTreeImage();

// A D81 whose root holds README (300 bytes of pattern 6) and PART, a partition over tracks 10 to
// 13 that holds INSIDE (600 bytes of pattern 7).
kelvane::Bytes D81PartitionImage();

// Sector offsets of each format, for SectorEditor.
// Sectors per track by the drives' zones (the builder's own table).
int Sectors1541(int track);
int Sectors1571(int track);
int Sectors8050(int track);  // also the 8250
int D64Offset(int track, int sector);
int D71Offset(int track, int sector);
int D81Offset(int track, int sector);
int D80Offset(int track, int sector);   // also D82
int FlatOffset(int track, int sector);  // DNP and DFI

}  // namespace kelvane::testing

namespace kelvane::testing {

// The bytes of a file under the source tree (tests run from the source folder); throws when the
// file cannot be read.
kelvane::Bytes ReadTestFile(const std::string& path);

}  // namespace kelvane::testing
