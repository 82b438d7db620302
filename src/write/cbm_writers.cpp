#include "write/cbm_writers.h"

#include "cbm/errors.h"
#include "common/format.h"
#include "formats/common.h"
#include "formats/d64.h"
#include "formats/d71_d81.h"
#include "formats/d80_d82.h"
#include "registry/registry.h"

namespace kelvane {

namespace {

// Tracks at distance 1, 2, ... from `centre`, the lower one first at each distance, limited to
// [low, high] and never `centre` itself; `try_track` returns true to stop.
template <typename F>
bool AroundTrack(int centre, int max_distance, int low, int high, F&& try_track) {
  for (int distance = 1; distance <= max_distance; ++distance) {
    for (const int track : {centre - distance, centre + distance}) {
      if (track >= low && track <= high && try_track(track)) return true;
    }
  }
  return false;
}

}  // namespace

bool TDkZonedWriter::TakeFirstFree(int track, int& sector) {
  if (!TrackMayHaveFree(track)) return false;
  for (int s = 0; s < SectorsOnTrack(track); ++s) {
    if (IsSectorFree(track, s)) {
      MarkSectorUsed(track, s);
      sector = s;
      return true;
    }
  }
  return false;
}

bool TDkZonedWriter::TakeFromSector(int track, int start, int& sector) {
  if (!TrackMayHaveFree(track)) return false;
  const int count = SectorsOnTrack(track);
  for (int i = 0; i < count; ++i) {
    const int s = (start + i) % count;
    if (IsSectorFree(track, s)) {
      MarkSectorUsed(track, s);
      sector = s;
      return true;
    }
  }
  return false;
}

// --- D64 ----------------------------------------------------------------------------------------

TDkD64Writer::TDkD64Writer(WritableBytes bytes, int track_count, bool has_error_info,
                           TDkD64DosVariant variant)
    : TDkZonedWriter(bytes, DkD64Geometry(), track_count, has_error_info, 18), variant_(variant) {
  const TDkD64VariantLayout layout = DkD64VariantOffsets(variant);
  ext_bam_offset_ = layout.ExtraBamOffset;
  ext_bam_tracks_ = layout.ExtraTracks;
}

std::unique_ptr<TDkD64Writer> TDkD64Writer::FromBytes(WritableBytes bytes) {
  const long long size = static_cast<long long>(bytes.size());
  const TDkD64SizeInfo info = DkD64SizeMatch(size);
  if (!info.Matched) {
    throw EDkD64FormatError(DkFormatSizeErrorText(cifD64, size));
  }
  const std::size_t bam = static_cast<std::size_t>(DkD64Geometry().SectorOffset(kD64BamTrack, 0));
  const TDkD64DosVariant variant =
      DkD64ResolveVariant(ByteView(bytes).subspan(bam, kSectorSize), info.TrackCount);
  return std::unique_ptr<TDkD64Writer>(
      new TDkD64Writer(bytes, info.TrackCount, info.HasErrorInfo, variant));
}

void TDkD64Writer::LocateBam(TDkBamLocation& location, int track) const {
  location.Track = track;
  int count_offset = -1;
  if (track >= 1 && track <= 35) {
    count_offset = 4 * track;
  } else if (ext_bam_offset_ != 0 && track >= 36 && track <= 35 + ext_bam_tracks_ &&
             track <= TrackCount()) {
    count_offset = ext_bam_offset_ + 4 * (track - 36);
  }
  if (count_offset < 0) return;  // no BAM room: never free, never changed
  location.BitmapPresent = location.CountPresent = true;
  location.BitmapTrack = location.CountTrack = kD64BamTrack;
  location.BitmapSector = location.CountSector = 0;
  location.CountOffset = count_offset;
  location.BitmapOffset = count_offset + 1;
}

bool TDkD64Writer::AllocateDataSector(int prev_track, int prev_sector, int& track, int& sector) {
  if (prev_track >= 1 && prev_track <= TrackCount() && prev_track != kD64BamTrack) {
    const int n = SectorsOnTrack(prev_track);
    int start = 0;
    if (prev_sector >= 0) {
      start = prev_sector + 10;
      if (start >= n) {
        start -= n;
        if (start > 0) --start;
      }
    }
    if (TakeFromSector(prev_track, start, sector)) {
      track = prev_track;
      return true;
    }
  }
  // Out from track 18 both ways; past distance 17 only tracks 36-42 remain.
  return AroundTrack(kD64BamTrack, TrackCount() - kD64BamTrack, 1, TrackCount(), [&](int t) {
    if (!TakeFirstFree(t, sector)) return false;
    track = t;
    return true;
  });
}

int TDkD64Writer::FreeBlocks() const {
  const Bytes bam = ReadSector(kD64BamTrack, 0);
  int free_blocks = 0;
  for (int t = 1; t <= std::min(TrackCount(), 35); ++t) {
    if (t != kD64BamTrack) free_blocks += bam[static_cast<std::size_t>(4 * t)];
  }
  if (TrackCount() > 35 && ext_bam_offset_ != 0) {
    for (int i = 0; i < ext_bam_tracks_; ++i)
      free_blocks += bam[static_cast<std::size_t>(ext_bam_offset_ + 4 * i)];
  }
  return free_blocks;
}

bool TDkD64Writer::ExtendDirectory(int last_track, int last_sector, int& track, int& sector,
                                   int& slot) {
  const int n = SectorsOnTrack(kD64BamTrack);
  int start = last_sector + 3;
  if (start >= n) {
    start -= n;
    if (start > 0) --start;
  }
  if (start == 0) start = 1;
  for (int i = 0; i < n; ++i) {
    const int s = (start + i) % n;
    if (s == 0 || !IsSectorFree(kD64BamTrack, s)) continue;
    return UseAsNewDirSector(last_track, last_sector, kD64BamTrack, s, track, sector, slot);
  }
  return false;
}

// --- D71 ----------------------------------------------------------------------------------------

std::unique_ptr<TDkD71Writer> TDkD71Writer::FromBytes(WritableBytes bytes) {
  const long long size = static_cast<long long>(bytes.size());
  const TDkSizeMatch match = DkD71SizeMatch(size);
  if (!match.Matched) {
    throw EDkCbmImageFormatError(DkFormatSizeErrorText(cifD71, size));
  }
  return std::unique_ptr<TDkD71Writer>(
      new TDkD71Writer(bytes, DkD71Geometry(), 70, match.HasErrorInfo, 18));
}

void TDkD71Writer::LocateBam(TDkBamLocation& location, int track) const {
  location.Track = track;
  if (track < 1 || track > 70) return;
  location.BitmapPresent = location.CountPresent = true;
  location.CountTrack = 18;
  location.CountSector = 0;
  if (track <= 35) {
    location.CountOffset = 4 * track;
    location.BitmapTrack = 18;
    location.BitmapSector = 0;
    location.BitmapOffset = 4 * track + 1;
  } else {
    // The second side keeps its counts in 18/0 and its bitmaps in 53/0.
    location.CountOffset = 0xDD + (track - 36);
    location.BitmapTrack = 53;
    location.BitmapSector = 0;
    location.BitmapOffset = 3 * (track - 36);
  }
}

bool TDkD71Writer::AllocateDataSector(int prev_track, int prev_sector, int& track, int& sector) {
  if (prev_track >= 1 && prev_track <= 70 && prev_track != 18 && prev_track != 53) {
    const int n = SectorsOnTrack(prev_track);
    const int start = prev_sector < 0 ? 0 : (prev_sector + 6) % n;
    if (TakeFromSector(prev_track, start, sector)) {
      track = prev_track;
      return true;
    }
  }
  const auto take = [&](int t) {
    if (!TakeFirstFree(t, sector)) return false;
    track = t;
    return true;
  };
  return AroundTrack(18, 34, 1, 35, take) || AroundTrack(53, 34, 36, 70, take);
}

int TDkD71Writer::FreeBlocks() const {
  const Bytes bam = ReadSector(18, 0);
  int free_blocks = 0;
  for (int t = 1; t <= 35; ++t) {
    if (t != 18) free_blocks += bam[static_cast<std::size_t>(4 * t)];
  }
  for (int t = 36; t <= 70; ++t) {
    if (t != 53) free_blocks += bam[static_cast<std::size_t>(0xDD + t - 36)];
  }
  return free_blocks;
}

bool TDkD71Writer::ExtendDirectory(int last_track, int last_sector, int& track, int& sector,
                                   int& slot) {
  for (int s = 2; s <= 18; ++s) {
    if (!IsSectorFree(18, s)) continue;
    return UseAsNewDirSector(last_track, last_sector, 18, s, track, sector, slot);
  }
  return false;
}

// --- D80, D82 -----------------------------------------------------------------------------------

TDkIeeeWriter::TDkIeeeWriter(WritableBytes bytes, const TDkZoneGeometry& geometry,
                             bool has_error_info)
    : TDkZonedWriter(bytes, geometry, geometry.Tracks(), has_error_info, 39) {
  const std::size_t byte3 = static_cast<std::size_t>(geometry.SectorOffset(38, 0)) + 3;
  old_layout_ = byte3 < bytes.size() && bytes[byte3] == 255;
}

void TDkIeeeWriter::CheckWritable() const {
  if (!old_layout_) return;
  throw EDkCbmConstraintViolation(Format(
      "This %s has old header and BAM links an %s cannot follow. It stays read-only until it is "
      "converted.",
      FormatName().c_str(), DriveName().c_str()));
}

void TDkIeeeWriter::LocateBam(TDkBamLocation& location, int track) const {
  location.Track = track;
  if (track < 1 || track > TrackCount()) return;
  const int block = (track - 1) / 50;
  location.BitmapPresent = location.CountPresent = true;
  location.BitmapTrack = location.CountTrack = 38;
  location.BitmapSector = location.CountSector = 3 * block;
  location.CountOffset = 6 + 5 * (track - (50 * block + 1));
  location.BitmapOffset = location.CountOffset + 1;
}

bool TDkIeeeWriter::AllocateDataSector(int, int, int& track, int& sector) {
  return AroundTrack(39, TrackCount() - 1, 1, TrackCount(), [&](int t) {
    if (!TakeFirstFree(t, sector)) return false;
    track = t;
    return true;
  });
}

int TDkIeeeWriter::FreeBlocks() const {
  int free_blocks = 0;
  for (int t = 1; t <= TrackCount(); ++t) {
    if (t == 39) continue;
    TDkBamLocation location;
    LocateBam(location, t);
    free_blocks += ReadSector(location.CountTrack,
                              location.CountSector)[static_cast<std::size_t>(location.CountOffset)];
  }
  return free_blocks;
}

bool TDkIeeeWriter::ExtendDirectory(int last_track, int last_sector, int& track, int& sector,
                                    int& slot) {
  for (int s = 2; s <= SectorsOnTrack(39) - 1; ++s) {
    if (!IsSectorFree(39, s)) continue;
    return UseAsNewDirSector(last_track, last_sector, 39, s, track, sector, slot);
  }
  return ClaimEmptyDirSector(last_track, last_sector, track, sector, slot);
}

std::unique_ptr<TDkD80Writer> TDkD80Writer::FromBytes(WritableBytes bytes) {
  const long long size = static_cast<long long>(bytes.size());
  const TDkSizeMatch match = DkD80SizeMatch(size);
  if (!match.Matched) {
    throw EDkCbmImageFormatError(DkFormatSizeErrorText(cifD80, size));
  }
  return std::unique_ptr<TDkD80Writer>(
      new TDkD80Writer(bytes, DkD80Geometry(), match.HasErrorInfo));
}

std::unique_ptr<TDkD82Writer> TDkD82Writer::FromBytes(WritableBytes bytes) {
  const long long size = static_cast<long long>(bytes.size());
  const TDkSizeMatch match = DkD82SizeMatch(size);
  if (!match.Matched) {
    throw EDkCbmImageFormatError(DkFormatSizeErrorText(cifD82, size));
  }
  return std::unique_ptr<TDkD82Writer>(
      new TDkD82Writer(bytes, DkD82Geometry(), match.HasErrorInfo));
}

}  // namespace kelvane
