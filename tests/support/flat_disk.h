#pragma once

// A test-side disk: every track has the same number of sectors, laid out track by track. Tests
// place directory sectors, entries and file chains by hand and open the bytes as a TDkCbmImage.

#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "cbm/image.h"

namespace kelvane::testing {

// A reader over flat geometry. `max_track` may exceed the tracks present in the bytes, the way a
// D64 reader accepts track 42 on a 35-track image.
class FlatImage : public TDkCbmImage {
 public:
  FlatImage(kelvane::Bytes bytes, int max_track, int sectors_per_track);

  int MaxTrack() const override { return max_track_; }
  int SectorsInTrack(int track) const override;
  int SectorOffset(int track, int sector) const override;
  std::string FormatName() const override { return "TST"; }

  using TDkCbmImage::LoadDirectory;
  using TDkCbmImage::SetErrorInfo;

 private:
  int max_track_;
  int sectors_per_track_;
};

struct EntrySpec {
  std::string name;          // ASCII; upper-case letters stay as they are (PETSCII $41-$5A)
  std::uint8_t type = 0x82;  // closed PRG
  int first_track = 0;
  int first_sector = 0;
  int blocks = 0;
};

using SectorPath = std::vector<std::pair<int, int>>;

class FlatDisk {
 public:
  FlatDisk(int tracks, int sectors_per_track);

  std::span<std::uint8_t> Sector(int track, int sector);
  void Link(int track, int sector, int next_track, int next_sector);
  // Writes a directory slot (type, name padded with $A0, first sector, blocks).
  void PutEntry(int track, int sector, int index, const EntrySpec& entry);
  // Writes `data` along `path` as a file chain; the path must hold enough sectors.
  void WriteFile(const SectorPath& path, std::span<const std::uint8_t> data);

  const kelvane::Bytes& Bytes() const { return bytes_; }
  kelvane::Bytes& MutableBytes() { return bytes_; }
  std::unique_ptr<FlatImage> Open(int max_track = 0) const;

  int tracks() const { return tracks_; }
  int sectors_per_track() const { return sectors_per_track_; }

 private:
  int tracks_;
  int sectors_per_track_;
  kelvane::Bytes bytes_;
};

// Name bytes as a directory slot stores them: ASCII copied, padded with $A0 to 16.
kelvane::Bytes PaddedName(const std::string& name);

// Deterministic filler bytes for file contents.
kelvane::Bytes PatternBytes(std::size_t length, std::uint32_t seed);

}  // namespace kelvane::testing
