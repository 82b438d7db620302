#include "write/writer_base.h"

#include <algorithm>
#include <cstring>

#include "cbm/errors.h"
#include "common/format.h"

namespace kelvane {

void TDkCbmImageWriter::FinishEntry(Bytes& dir_sector, int entry_offset) const {
  for (int i = 24; i <= 29; ++i) {
    const std::size_t at = static_cast<std::size_t>(entry_offset + i);
    if (at < dir_sector.size()) dir_sector[at] = 0;
  }
}

std::string TDkCbmImageWriter::ReadOnlyReason() const {
  try {
    CheckWritable();
  } catch (const EDkCbmConstraintViolation& reason) {
    return reason.Message();
  }
  return {};
}

int TDkCbmImageWriter::SectorOffset(int track, int sector) const {
  if (track < 1 || track > TrackCount()) {
    throw EDkCbmMalformedDisk(Format("Track %d out of range for %s.", track, FormatName().c_str()));
  }
  if (sector < 0 || sector >= SectorsOnTrack(track)) {
    throw EDkCbmMalformedDisk(Format("Sector %d out of range for track %d.", sector, track));
  }
  const int offset = RawSectorOffset(track, sector);
  if (offset < 0 || !RangeInside(bytes_.size(), static_cast<std::size_t>(offset), kSectorSize)) {
    throw EDkCbmMalformedDisk(Format("Sector T%d/S%d past end of image.", track, sector));
  }
  return offset;
}

Bytes TDkCbmImageWriter::ReadSector(int track, int sector) const {
  const auto begin = bytes_.begin() + SectorOffset(track, sector);
  return Bytes(begin, begin + kSectorSize);
}

std::uint8_t TDkCbmImageWriter::SectorByte(int track, int sector, int index) const {
  return bytes_[static_cast<std::size_t>(SectorOffset(track, sector)) +
                static_cast<std::size_t>(index & 0xFF)];
}

void TDkCbmImageWriter::WriteSector(int track, int sector, ByteView data) {
  CheckWritable();
  if (data.size() != static_cast<std::size_t>(kSectorSize)) {
    throw EDkCbmConstraintViolation(
        Format("A sector is 256 bytes; got %d.", static_cast<int>(data.size())));
  }
  const int offset = SectorOffset(track, sector);
  Remember(static_cast<std::size_t>(offset), kSectorSize);
  std::memcpy(bytes_.data() + offset, data.data(), kSectorSize);
}

void TDkCbmImageWriter::StartJournal() {
  journaling_ = true;
  journal_spans_.clear();
  journal_bytes_.clear();
}

void TDkCbmImageWriter::RollBack() {
  std::size_t end = journal_bytes_.size();
  for (auto span = journal_spans_.rbegin(); span != journal_spans_.rend(); ++span) {
    end -= span->second;
    std::memcpy(bytes_.data() + span->first, journal_bytes_.data() + end, span->second);
  }
  journal_spans_.clear();
  journal_bytes_.clear();
}

void TDkCbmImageWriter::Remember(std::size_t offset, std::size_t length) {
  if (!journaling_) return;
  journal_spans_.emplace_back(offset, length);
  journal_bytes_.insert(journal_bytes_.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(offset),
                        bytes_.begin() + static_cast<std::ptrdiff_t>(offset + length));
}

bool TDkCbmImageWriter::IsSectorFree(int track, int sector) const {
  if (protected_sectors_ != nullptr && track >= 0 && track <= 255 && sector >= 0 && sector <= 255 &&
      protected_sectors_->At(track, sector) != 0) {
    return false;
  }
  TDkBamLocation location;
  location.Track = track;
  LocateBam(location, track);
  if (!location.BitmapPresent) return false;
  const std::size_t at =
      static_cast<std::size_t>(SectorOffset(location.BitmapTrack, location.BitmapSector) +
                               location.BitmapOffset + sector / 8);
  if (at >= bytes_.size()) return false;
  return ((bytes_[at] & BamBitMask(sector)) != 0) == BamBitMeansFree();
}

bool TDkCbmImageWriter::TrackMayHaveFree(int track) const {
  TDkBamLocation location;
  location.Track = track;
  LocateBam(location, track);
  if (!location.BitmapPresent) return false;
  const int sectors = SectorsOnTrack(track);
  const std::size_t base = static_cast<std::size_t>(
      SectorOffset(location.BitmapTrack, location.BitmapSector) + location.BitmapOffset);
  const std::uint8_t all_used = BamBitMeansFree() ? 0x00 : 0xFF;
  // Whole bytes first: whatever the bit order, a byte of all-used bits has no free sector.
  for (int i = 0; i < sectors / 8; ++i) {
    if (base + static_cast<std::size_t>(i) >= bytes_.size()) return true;
    if (bytes_[base + static_cast<std::size_t>(i)] != all_used) return true;
  }
  for (int s = sectors / 8 * 8; s < sectors; ++s) {
    const std::size_t at = base + static_cast<std::size_t>(s / 8);
    if (at >= bytes_.size() || ((bytes_[at] & BamBitMask(s)) != 0) == BamBitMeansFree())
      return true;
  }
  return false;
}

void TDkCbmImageWriter::SetSectorFree(int track, int sector, bool free) {
  CheckWritable();
  TDkBamLocation location;
  location.Track = track;
  LocateBam(location, track);
  if (!location.BitmapPresent) return;
  const std::size_t at =
      static_cast<std::size_t>(SectorOffset(location.BitmapTrack, location.BitmapSector) +
                               location.BitmapOffset + sector / 8);
  if (at >= bytes_.size()) return;
  const std::uint8_t mask = BamBitMask(sector);
  const bool free_now = ((bytes_[at] & mask) != 0) == BamBitMeansFree();
  if (free_now == free) return;  // neither bit nor count changes
  Remember(at, 1);
  if (BamBitMeansFree() == free) {
    bytes_[at] = static_cast<std::uint8_t>(bytes_[at] | mask);
  } else {
    bytes_[at] = static_cast<std::uint8_t>(bytes_[at] & ~mask);
  }
  if (location.CountPresent) {
    const std::size_t count_at = static_cast<std::size_t>(
        SectorOffset(location.CountTrack, location.CountSector) + location.CountOffset);
    if (count_at < bytes_.size()) {
      Remember(count_at, 1);
      const int count = std::clamp(bytes_[count_at] + (free ? 1 : -1), 0, SectorsOnTrack(track));
      bytes_[count_at] = static_cast<std::uint8_t>(count);
    }
  }
}

bool TDkCbmImageWriter::ValidSystemSector(int track, int sector) const {
  if (track < 1 || track > TrackCount() || track > 255) return false;
  if (sector < 0 || sector >= SectorsOnTrack(track) || sector > 255) return false;
  const int offset = RawSectorOffset(track, sector);
  return offset >= 0 && RangeInside(bytes_.size(), static_cast<std::size_t>(offset), kSectorSize);
}

void TDkCbmImageWriter::BuildSystemSectorMap(int dir_track, int dir_sector,
                                             TDkSectorOccupancy& map) const {
  map.Flags.fill(0);
  if (ValidSystemSector(HeaderTrack(), HeaderSector())) map.At(HeaderTrack(), HeaderSector()) = 1;
  for (int track = 1; track <= TrackCount(); ++track) {
    TDkBamLocation location;
    location.Track = track;
    LocateBam(location, track);
    if (location.BitmapPresent && ValidSystemSector(location.BitmapTrack, location.BitmapSector)) {
      map.At(location.BitmapTrack, location.BitmapSector) = 1;
    }
    if (location.CountPresent && ValidSystemSector(location.CountTrack, location.CountSector)) {
      map.At(location.CountTrack, location.CountSector) = 1;
    }
  }
  // The directory chain; a sector met twice ends the walk, so a looping chain ends too.
  int track = dir_track;
  int sector = dir_sector;
  while (ValidSystemSector(track, sector) && map.At(track, sector) == 0) {
    map.At(track, sector) = 1;
    const std::size_t offset = static_cast<std::size_t>(RawSectorOffset(track, sector));
    track = bytes_[offset];
    sector = bytes_[offset + 1];
  }
}

void TDkCbmImageWriter::LinkNewDirSector(int prev_track, int prev_sector, int new_track,
                                         int new_sector) {
  Bytes fresh(kSectorSize, 0);
  fresh[1] = 255;  // end of chain, all bytes used
  WriteSector(new_track, new_sector, fresh);
  Bytes previous = ReadSector(prev_track, prev_sector);
  previous[0] = static_cast<std::uint8_t>(new_track);
  previous[1] = static_cast<std::uint8_t>(new_sector);
  WriteSector(prev_track, prev_sector, previous);
}

bool TDkCbmImageWriter::UseAsNewDirSector(int last_track, int last_sector, int new_track,
                                          int new_sector, int& track, int& sector, int& slot) {
  MarkSectorUsed(new_track, new_sector);
  LinkNewDirSector(last_track, last_sector, new_track, new_sector);
  track = new_track;
  sector = new_sector;
  slot = 0;
  return true;
}

bool TDkCbmImageWriter::ClaimEmptyDirSector(int last_track, int last_sector, int& track,
                                            int& sector, int& slot) {
  track = sector = slot = 0;
  const int dir_track = DirTrack();
  for (int s = FirstDirSector() + 1; s < SectorsOnTrack(dir_track); ++s) {
    const Bytes data = ReadSector(dir_track, s);
    bool empty = true;
    for (int entry = 0; entry < 8 && empty; ++entry)
      empty = data[static_cast<std::size_t>(2 + 32 * entry)] == 0;
    if (!empty) continue;
    LinkNewDirSector(last_track, last_sector, dir_track, s);
    track = dir_track;
    sector = s;
    return true;
  }
  return false;
}

}  // namespace kelvane
