#pragma once

// The base of every sector-image reader and the directory walker.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cbm/entry.h"

namespace kelvane {

using TDkStringList = std::vector<std::string>;

enum TDkParseStatus : int {
  psComplete = 0,     // the chain ended normally or closed on itself
  psBroken = 1,       // a sector could not be read; the rest was given up
  psNoDirectory = 2,  // the first directory track was 0
};

// A disk image opened for reading. Readers (one subclass per format family) fill the fields while
// opening; afterwards the object is immutable. Nothing here writes to the bytes.
class TDkCbmImage {
 public:
  virtual ~TDkCbmImage();
  TDkCbmImage(const TDkCbmImage&) = delete;
  TDkCbmImage& operator=(const TDkCbmImage&) = delete;

  // Geometry, per format. Sector reads accept tracks 1..MaxTrack(); SectorsInTrack is 0 for a
  // track the geometry does not know.
  virtual int MaxTrack() const = 0;
  virtual int SectorsInTrack(int track) const = 0;
  virtual int SectorOffset(int track, int sector) const = 0;
  virtual std::string FormatName() const = 0;

  // Checked read of one sector: a fresh 256-byte copy.
  kelvane::Bytes ReadSector(int track, int sector) const;
  // This image's ReadSector as a sector-reader callable (valid while the image lives).
  TDkCbmReadSectorFunc SectorReader() const;
  // The entry's bytes: along its file chain (a container reads them from where they lie).
  virtual kelvane::Bytes ReadFile(const TDkCbmEntry& entry) const;
  // The listing's last line: "N BLOCKS FREE." (a container says what fits it).
  virtual kelvane::Bytes LastLineBytes() const;
  // The image a partition row of Entries() opens (a CMD disk lists its partitions beside the
  // default one's files); null for every other entry and for a partition that holds no directory.
  virtual const TDkCbmImage* PartitionImage(const TDkCbmEntry& /*entry*/) const { return nullptr; }

  ByteView Bytes() const { return bytes_; }
  int TrackCount() const { return track_count_; }
  const std::string& DiskName() const { return disk_name_; }
  const std::string& DiskId() const { return disk_id_; }
  const kelvane::Bytes& DiskNameBytes() const { return disk_name_bytes_; }
  const kelvane::Bytes& DiskIdBytes() const { return disk_id_bytes_; }
  std::uint8_t DosVersion() const { return dos_version_; }
  int FreeBlocks() const { return free_blocks_; }
  const TDkCbmEntryArray& Entries() const { return entries_; }
  bool HasErrorInfo() const { return has_error_info_; }
  const kelvane::Bytes& ErrorInfo() const { return error_info_; }
  // Present only when the directory was loaded in recovering mode; may then be empty.
  const TDkStringList* RecoveryWarnings() const { return recovery_warnings_.get(); }
  int DirTrack() const { return dir_track_; }
  int DirSector() const { return dir_sector_; }

 protected:
  explicit TDkCbmImage(TDkImageBytes bytes);

  // Walks the directory from (track, sector) into Entries(). With `recover` the walk keeps what it
  // could read before a broken link and records a warning; without it a broken link throws.
  void LoadDirectory(int track, int sector, bool recover);
  // Takes `sector_count` error bytes from just after the sector data.
  void SetErrorInfo(bool has_error_info, int sector_count);
  // Disk name (16 bytes) and id (5 bytes: id, $A0, DOS type) from a header sector, raw and in
  // display form.
  void SetDiskHeader(ByteView header, int name_offset, int id_offset);
  // Sector reads see only the first `size` bytes: what follows the sector data (an error-info
  // block) is never handed out as a sector, even where the geometry would reach into it.
  void SetSectorDataSize(std::size_t size) { sector_data_size_ = size; }

  TDkImageBytes storage_;
  ByteView bytes_;  // storage_'s bytes; the image is never moved
  int track_count_ = 0;
  std::string disk_name_;
  std::string disk_id_;
  kelvane::Bytes disk_name_bytes_;
  kelvane::Bytes disk_id_bytes_;
  std::uint8_t dos_version_ = 0;
  int free_blocks_ = 0;
  TDkCbmEntryArray entries_;
  bool has_error_info_ = false;
  kelvane::Bytes error_info_;
  std::unique_ptr<TDkStringList> recovery_warnings_;
  int dir_track_ = 0;
  int dir_sector_ = 0;
  std::size_t sector_data_size_ = static_cast<std::size_t>(-1);
};

// Strict directory walk: any unreadable sector throws; scratched slots are never returned.
TDkCbmEntryArray DkCbmParseDirectory(int first_track, int first_sector,
                                     const TDkCbmReadSectorFunc& read);

// Recovering directory walk: an EDkCbmMalformedDisk while reading a sector ends the walk with the
// entries found so far, a line in `recovery_warnings` and status psBroken.
TDkCbmEntryArray DkCbmParseDirectory(int first_track, int first_sector,
                                     const TDkCbmReadSectorFunc& read,
                                     TDkStringList* recovery_warnings, TDkParseStatus& status);

}  // namespace kelvane
