#pragma once

// The base of every image writer: it works in place on the caller's image bytes and offers what
// the directory writer needs (validated addressing, sector reads and writes, the free state of
// sectors in the BAM, a map of sectors never to hand out, directory sector linking) on top of a
// few per-format operations.

#include <array>
#include <string>
#include <utility>
#include <vector>

#include "cbm/entry.h"
#include "common/exception.h"

namespace kelvane {

// Every rule a write would break.
class EDkCbmConstraintViolation : public Exception {
 public:
  using Exception::Exception;
};

// 256 x 256 flags indexed [track][sector]; nonzero = occupied, never to be handed out.
struct TDkSectorOccupancy {
  std::array<std::uint8_t, 65536> Flags{};
  std::uint8_t& At(int track, int sector) {
    return Flags[static_cast<std::size_t>(track) * 256 + static_cast<std::size_t>(sector)];
  }
  std::uint8_t At(int track, int sector) const {
    return Flags[static_cast<std::size_t>(track) * 256 + static_cast<std::size_t>(sector)];
  }
};

// Where a track's BAM bitmap and free count live.
struct TDkBamLocation {
  bool BitmapPresent = false;
  int BitmapTrack = 0;
  int BitmapSector = 0;
  int BitmapOffset = 0;  // byte of sectors 0-7; sector n in byte BitmapOffset + n / 8
  bool CountPresent = false;
  int CountTrack = 0;
  int CountSector = 0;
  int CountOffset = 0;
  int Track = 0;  // the track asked for
};

class TDkCbmImageWriter {
 public:
  virtual ~TDkCbmImageWriter() = default;
  TDkCbmImageWriter(const TDkCbmImageWriter&) = delete;
  TDkCbmImageWriter& operator=(const TDkCbmImageWriter&) = delete;

  // Per-format operations.
  virtual void LocateBam(TDkBamLocation& location, int track) const = 0;
  virtual std::uint8_t BamBitMask(int sector) const {
    return static_cast<std::uint8_t>(1u << (sector % 8));
  }
  virtual bool BamBitMeansFree() const { return true; }
  // Throws the format's read-only reason when the image may not be changed.
  virtual void CheckWritable() const {}
  // That reason as text; empty when the image may be changed.
  std::string ReadOnlyReason() const;
  virtual int HeaderTrack() const = 0;
  virtual int HeaderSector() const = 0;
  virtual int TrackCount() const = 0;
  virtual int SectorsOnTrack(int track) const = 0;
  virtual int RawSectorOffset(int track, int sector) const = 0;
  virtual std::string FormatName() const = 0;
  virtual std::string DriveName() const = 0;
  virtual int DirTrack() const = 0;
  virtual int FirstDirSector() const = 0;
  virtual bool AllocateDataSector(int prev_track, int prev_sector, int& track, int& sector) = 0;
  virtual int FreeBlocks() const = 0;
  // Of those, the blocks no file is ever given (a system area the BAM leaves free).
  virtual int ReservedFreeBlocks() const { return 0; }
  // The free blocks files may be given: what the space checks count.
  int FileFreeBlocks() const { return FreeBlocks() - ReservedFreeBlocks(); }
  virtual bool ExtendDirectory(int last_track, int last_sector, int& track, int& sector,
                               int& slot) = 0;
  // An old layout the drive cannot follow (D80, D81, D82, DNP can have one).
  virtual bool IsOldLayout() const { return false; }
  // The last change to a new entry before it is stored: clears bytes 24-29 (GEOS fields).
  virtual void FinishEntry(Bytes& dir_sector, int entry_offset) const;

  // Validated byte offset of a sector (track, then sector, then the end of the image).
  int SectorOffset(int track, int sector) const;
  Bytes ReadSector(int track, int sector) const;
  // Byte `index` of a sector without copying the sector (validated like ReadSector).
  std::uint8_t SectorByte(int track, int sector, int index) const;
  void WriteSector(int track, int sector, ByteView data);
  Bytes ReadHeaderSector() const { return ReadSector(HeaderTrack(), HeaderSector()); }
  bool IsSectorFree(int track, int sector) const;
  // False when the BAM shows no free sector at all on `track`: a quick test that lets the
  // allocation scans pass over full tracks (true means "maybe", IsSectorFree decides).
  bool TrackMayHaveFree(int track) const;
  void SetSectorFree(int track, int sector, bool free);
  void MarkSectorUsed(int track, int sector) { SetSectorFree(track, sector, false); }
  void BuildSystemSectorMap(int dir_track, int dir_sector, TDkSectorOccupancy& map) const;
  void LinkNewDirSector(int prev_track, int prev_sector, int new_track, int new_sector);
  bool ClaimEmptyDirSector(int last_track, int last_sector, int& track, int& sector, int& slot);
  // Marks (new_track, new_sector) used, links it after the last directory sector and returns it
  // as the slot-0 answer of ExtendDirectory.
  bool UseAsNewDirSector(int last_track, int last_sector, int new_track, int new_sector, int& track,
                         int& sector, int& slot);

  // Taking back changes without a copy of the image: from StartJournal on, every change
  // (WriteSector, SetSectorFree) first records the bytes it replaces; RollBack puts them back,
  // newest first, and starts an empty journal. Every change to the bytes goes through those two.
  void StartJournal();
  void RollBack();

  // Set by the directory writer while it allocates the blocks of one file; not owned.
  const TDkSectorOccupancy* ProtectedSectors() const { return protected_sectors_; }
  void SetProtectedSectors(const TDkSectorOccupancy* map) { protected_sectors_ = map; }

 protected:
  // Refers to the caller's bytes: every change is visible to the caller at once.
  explicit TDkCbmImageWriter(WritableBytes bytes) : bytes_(bytes) {}
  ByteView ImageBytesRef() const { return bytes_; }

 private:
  // True when (track, sector) lies inside the geometry, the 0..255 link range and the image.
  bool ValidSystemSector(int track, int sector) const;

  // Records the `length` bytes at `offset` before they change, when a journal runs.
  void Remember(std::size_t offset, std::size_t length);

  WritableBytes bytes_;
  const TDkSectorOccupancy* protected_sectors_ = nullptr;
  bool journaling_ = false;
  std::vector<std::pair<std::size_t, std::size_t>> journal_spans_;  // offset, length
  Bytes journal_bytes_;                                             // their old bytes, in order
};

}  // namespace kelvane
