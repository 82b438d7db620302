#include "write/flat_writers.h"

#include <algorithm>

#include "cbm/errors.h"
#include "common/format.h"
#include "formats/common.h"
#include "formats/d71_d81.h"
#include "formats/dnp_dfi.h"
#include "registry/registry.h"

namespace kelvane {

namespace {

constexpr int kMaxNesting = 8;
constexpr int kMaxDirSectors = 256;

// Is the D81 sector at (track, sector) the header of a 1581 partition?
bool IsD81PartitionHeader(ByteView bytes, int track, int sector) {
  if (track < 1 || track > 80 || sector < 0 || sector >= 40) return false;
  const std::size_t at = static_cast<std::size_t>(((track - 1) * 40 + sector) * 256);
  if (!RangeInside(bytes.size(), at, kSectorSize)) return false;
  const ByteView h = bytes.subspan(at, kSectorSize);
  return h[0] >= 1 && h[0] <= 80 && h[1] < 40 && h[2] == 'D' && h[3] == 0 && h[20] == 0xA0 &&
         h[21] == 0xA0 && h[24] == 0xA0 && h[25] == '3' && h[26] == 'D';
}

// Searches a (partition's) directory from (first_track, 3) for a partition in the old layout:
// an odd-shaped CBM entry whose first block is a partition header. Current-layout partitions
// are searched inside in turn, within their own tracks.
bool HasOldPartition(ByteView bytes, int first_track, int low, int high, int depth) {
  int track = first_track;
  int sector = 3;
  for (int count = 0; track >= low && track <= high && sector < 40 && count < kMaxDirSectors;
       ++count) {
    const std::size_t at = static_cast<std::size_t>(((track - 1) * 40 + sector) * 256);
    if (!RangeInside(bytes.size(), at, kSectorSize)) return false;
    const ByteView dir = bytes.subspan(at, kSectorSize);
    for (int e = 0; e < 8; ++e) {
      const ByteView entry = dir.subspan(static_cast<std::size_t>(32 * e), 32);
      if (entry[2] == 0 || (entry[2] & 7) != cftCBM) continue;
      const int start_track = entry[3];
      const int start_sector = entry[4];
      const int blocks = entry[30] | (entry[31] << 8);
      const bool shaped = start_sector == 0 && blocks % 40 == 0 && blocks >= 120;
      if (!shaped) {
        if (IsD81PartitionHeader(bytes, start_track, start_sector)) return true;
        continue;
      }
      const int last_track = start_track + blocks / 40 - 1;
      const bool inside = start_track != 40 && !(start_track < 40 && last_track >= 40) &&
                          start_track >= low && last_track <= high && depth + 1 < kMaxNesting;
      if (inside && HasOldPartition(bytes, start_track, start_track, last_track, depth + 1))
        return true;
    }
    track = dir[0];
    sector = dir[1];
  }
  return false;
}

std::tm LocalNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
#if defined(_WIN32)
  localtime_s(&local, &now);
#else
  localtime_r(&now, &local);
#endif
  return local;
}

}  // namespace

// --- D81 ----------------------------------------------------------------------------------------

TDkD81Writer::TDkD81Writer(WritableBytes bytes, bool has_error_info)
    : TDkCbmImageWriter(bytes),
      has_error_info_(has_error_info),
      old_layout_(HasOldPartition(bytes, kHeaderTrack, 1, 80, 0)) {}

std::unique_ptr<TDkD81Writer> TDkD81Writer::FromBytes(WritableBytes bytes) {
  const long long size = static_cast<long long>(bytes.size());
  const TDkSizeMatch match = DkD81SizeMatch(size);
  if (!match.Matched) {
    throw EDkCbmImageFormatError(DkFormatSizeErrorText(cifD81, size));
  }
  return std::unique_ptr<TDkD81Writer>(new TDkD81Writer(bytes, match.HasErrorInfo));
}

void TDkD81Writer::CheckWritable() const {
  if (old_layout_) {
    throw EDkCbmConstraintViolation(
        "This D81 has a partition in an old layout a 1581 cannot read. It stays read-only until it "
        "is "
        "converted.");
  }
}

void TDkD81Writer::LocateBam(TDkBamLocation& location, int track) const {
  location.Track = track;
  if (track < 1 || track > 80) return;
  location.BitmapPresent = location.CountPresent = true;
  location.BitmapTrack = location.CountTrack = kHeaderTrack;
  location.BitmapSector = location.CountSector = track <= 40 ? 1 : 2;
  location.CountOffset = 0x10 + 6 * ((track - 1) % 40);
  location.BitmapOffset = location.CountOffset + 1;
}

bool TDkD81Writer::AllocateDataSector(int, int, int& track, int& sector) {
  for (int t = 1; t <= 80; ++t) {
    if (t == kHeaderTrack || !TrackMayHaveFree(t)) continue;
    for (int s = 0; s < 40; ++s) {
      if (!IsSectorFree(t, s)) continue;
      MarkSectorUsed(t, s);
      track = t;
      sector = s;
      return true;
    }
  }
  return false;
}

int TDkD81Writer::FreeBlocks() const {
  int free_blocks = 0;
  for (int t = 1; t <= 80; ++t) {
    if (t == kHeaderTrack) continue;
    TDkBamLocation location;
    LocateBam(location, t);
    free_blocks += SectorByte(location.CountTrack, location.CountSector, location.CountOffset);
  }
  return free_blocks;
}

bool TDkD81Writer::ExtendDirectory(int last_track, int last_sector, int& track, int& sector,
                                   int& slot) {
  if (ClaimEmptyDirSector(last_track, last_sector, track, sector, slot)) {
    MarkSectorUsed(track, sector);
    return true;
  }
  if (!AllocateDataSector(-1, -1, track, sector)) return false;
  LinkNewDirSector(last_track, last_sector, track, sector);
  slot = 0;
  return true;
}

// --- DNP and DFI --------------------------------------------------------------------------------

TDkFlatWriter::TDkFlatWriter(WritableBytes bytes, int reserved)
    : TDkCbmImageWriter(bytes),
      track_count_(static_cast<int>(bytes.size() / 65536)),
      first_dir_sector_(bytes.size() >= 512 ? bytes[257] : 0),
      reserved_(reserved) {}

void TDkFlatWriter::CheckWritable() const {
  if (!read_only_reason_.empty()) throw EDkCbmConstraintViolation(read_only_reason_);
}

bool TDkFlatWriter::NextFreeFrom(int track, int sector, int& found_track, int& found_sector) {
  // The sector after (track, sector) on, once round the disk; sectors below `reserved_` on track
  // 1 are never taken.
  const long long steps = static_cast<long long>(track_count_) * 256;
  for (long long step = 0; step < steps; ++step) {
    if (++sector > 255) {
      sector = 0;
      if (++track > track_count_) track = 1;
    }
    if (track == 1 && sector < reserved_) continue;
    if (sector == 0 && !TrackMayHaveFree(track)) {
      sector = 255;  // nothing free on this track: on to the next one
      step += 255;
      continue;
    }
    if (!IsSectorFree(track, sector)) continue;
    MarkSectorUsed(track, sector);
    found_track = track;
    found_sector = sector;
    return true;
  }
  return false;
}

int TDkFlatWriter::ReservedFreeBlocks() const {
  int free_blocks = 0;
  for (int s = 0; s < reserved_; ++s) free_blocks += IsSectorFree(1, s) ? 1 : 0;
  return free_blocks;
}

bool TDkFlatWriter::AllocateDataSector(int prev_track, int prev_sector, int& track, int& sector) {
  CheckWritable();
  if (prev_track < 1) return NextFreeFrom(1, reserved_ - 1, track, sector);
  return NextFreeFrom(prev_track, prev_sector, track, sector);
}

TDkDnpWriter::TDkDnpWriter(WritableBytes bytes)
    : TDkFlatWriter(bytes, 64), old_layout_(!DkDnpIsCurrentLayout(bytes)), clock_(LocalNow) {
  if (old_layout_) {
    SetReadOnlyReason(
        "This DNP has an old layout a CMD drive cannot read. It stays read-only until it is "
        "converted.");
  } else if (TrackCount() > 255) {
    SetReadOnlyReason(
        Format("A DNP of %d tracks cannot be written: a CMD partition holds at most %d.",
               TrackCount(), 255));
  }
}

std::unique_ptr<TDkDnpWriter> TDkDnpWriter::FromBytes(WritableBytes bytes) {
  const long long size = static_cast<long long>(bytes.size());
  if (!DkDnpSizeMatches(size)) {
    throw EDkCbmImageFormatError(DkFormatSizeErrorText(cifDnp, size));
  }
  return std::unique_ptr<TDkDnpWriter>(new TDkDnpWriter(bytes));
}

std::string TDkDnpWriter::FormatName() const {
  return Format("DNP (%d tracks)", TrackCount());
}

void TDkDnpWriter::LocateBam(TDkBamLocation& location, int track) const {
  location.Track = track;
  if (track < 1 || track > 255 || track > TrackCount()) return;
  const int position = 32 * track;  // from the start of sector 1/2
  location.BitmapPresent = true;
  location.BitmapTrack = 1;
  location.BitmapSector = 2 + position / 256;
  location.BitmapOffset = position % 256;
}

int TDkDnpWriter::FreeBlocks() const {
  return DkDnpCountFree(ImageBytesRef(), TrackCount());
}

bool TDkDnpWriter::ExtendDirectory(int last_track, int last_sector, int& track, int& sector,
                                   int& slot) {
  CheckWritable();
  const int start = last_sector + 1;  // the next sector on; the search wraps to 0
  bool found = false;
  for (int i = 0; i < 256 && !found; ++i) {
    const int s = (start + i) % 256;
    if (!IsSectorFree(last_track, s)) continue;
    MarkSectorUsed(last_track, s);
    track = last_track;
    sector = s;
    found = true;
  }
  if (!found && !NextFreeFrom(last_track, last_sector, track, sector)) return false;
  LinkNewDirSector(last_track, last_sector, track, sector);
  slot = 0;
  return true;
}

void TDkDnpWriter::FinishEntry(Bytes& dir_sector, int entry_offset) const {
  const std::tm now = clock_();
  const std::size_t at = static_cast<std::size_t>(entry_offset);
  if (at + 30 > dir_sector.size()) return;
  dir_sector[at + 24] = 0;
  dir_sector[at + 25] = static_cast<std::uint8_t>(now.tm_year);  // years since 1900
  dir_sector[at + 26] = static_cast<std::uint8_t>(now.tm_mon + 1);
  dir_sector[at + 27] = static_cast<std::uint8_t>(now.tm_mday);
  dir_sector[at + 28] = static_cast<std::uint8_t>(now.tm_hour);
  dir_sector[at + 29] = static_cast<std::uint8_t>(now.tm_min);
}

TDkDfiWriter::TDkDfiWriter(WritableBytes bytes) : TDkFlatWriter(bytes, 48) {
  const int dir_track = bytes.size() >= 512 ? bytes[256] : 0;
  if (TrackCount() > 255) {
    SetReadOnlyReason(
        Format("A DFI of %d tracks cannot be written: a sector link names at most track %d.",
               TrackCount(), 255));
  } else if (dir_track != 1 || FirstDirSector() < 2 || FirstDirSector() > 15) {
    SetReadOnlyReason(
        Format("This DFI's directory starts at %d/%d, outside T1/S2-15; it stays read-only.",
               dir_track, FirstDirSector()));
  }
}

std::unique_ptr<TDkDfiWriter> TDkDfiWriter::FromBytes(WritableBytes bytes) {
  const long long size = static_cast<long long>(bytes.size());
  if (!DkDnpSizeMatches(size)) {
    throw EDkCbmImageFormatError(DkFormatSizeErrorText(cifDfi, size));
  }
  if (!DkDfiHasSignature(bytes)) {
    throw EDkCbmImageFormatError("Not a DFI: no 'DREAMLOAD FILE ARCHIVE' at byte 1.");
  }
  return std::unique_ptr<TDkDfiWriter>(new TDkDfiWriter(bytes));
}

void TDkDfiWriter::LocateBam(TDkBamLocation& location, int track) const {
  location.Track = track;
  if (track < 1 || track > TrackCount()) return;
  const int position = 32 * (track - 1);  // from the start of sector 1/16
  location.BitmapPresent = true;
  location.BitmapTrack = 1;
  location.BitmapSector = 16 + position / 256;
  location.BitmapOffset = position % 256;
}

int TDkDfiWriter::FreeBlocks() const {
  return DkDfiCountFree(ImageBytesRef(), TrackCount());
}

bool TDkDfiWriter::ExtendDirectory(int last_track, int last_sector, int& track, int& sector,
                                   int& slot) {
  CheckWritable();
  TDkSectorOccupancy system;
  BuildSystemSectorMap(1, FirstDirSector(), system);
  for (int s = FirstDirSector() + 1; s <= 15; ++s) {
    if (system.At(1, s) != 0) continue;
    return UseAsNewDirSector(last_track, last_sector, 1, s, track, sector, slot);
  }
  return false;  // the directory never leaves sectors 2-15 of track 1
}

}  // namespace kelvane
