#include "cbm/image.h"

#include <algorithm>
#include <utility>

#include "cbm/chain.h"
#include "cbm/errors.h"
#include "cbm/listing.h"
#include "common/format.h"

namespace kelvane {

namespace {

// The checks of a sector read, in their order. Generic over the geometry callables so that an
// image's own reads call its virtual functions directly and build the format name only for the
// message.
template <typename SectorsInTrack, typename SectorOffset, typename FormatName>
kelvane::Bytes CheckedSectorRead(ByteView image, int track, int sector, int max_track,
                                 const SectorsInTrack& sectors_in_track,
                                 const SectorOffset& sector_offset, const FormatName& format_name) {
  if (track < 1 || track > max_track) {
    throw EDkCbmMalformedDisk(
        Format("Track %d out of range for %s.", track, std::string(format_name()).c_str()));
  }
  if (sector < 0 || sector >= sectors_in_track(track)) {
    throw EDkCbmMalformedDisk(Format("Sector %d out of range for track %d.", sector, track));
  }
  const int offset = sector_offset(track, sector);
  if (offset < 0 || !RangeInside(image.size(), static_cast<std::size_t>(offset), kSectorSize)) {
    throw EDkCbmMalformedDisk(Format("Sector T%d/S%d past end of image.", track, sector));
  }
  const auto begin = image.begin() + offset;
  return kelvane::Bytes(begin, begin + kSectorSize);
}

}  // namespace

TDkCbmImage::TDkCbmImage(TDkImageBytes bytes)
    : storage_(std::move(bytes)), bytes_(storage_.View()) {}

TDkCbmImage::~TDkCbmImage() = default;

kelvane::Bytes TDkCbmImage::ReadSector(int track, int sector) const {
  const ByteView sector_data = bytes_.first(std::min(bytes_.size(), sector_data_size_));
  return CheckedSectorRead(
      sector_data, track, sector, MaxTrack(), [this](int t) { return SectorsInTrack(t); },
      [this](int t, int s) { return SectorOffset(t, s); }, [this] { return FormatName(); });
}

TDkCbmReadSectorFunc TDkCbmImage::SectorReader() const {
  return [this](int track, int sector) { return ReadSector(track, sector); };
}

kelvane::Bytes TDkCbmImage::ReadFile(const TDkCbmEntry& entry) const {
  return DkCbmChainReadFile(entry.FirstTrack, entry.FirstSector, SectorReader());
}

kelvane::Bytes TDkCbmImage::LastLineBytes() const {
  return DkCbmBlocksFreeLineBytes(free_blocks_);
}

void TDkCbmImage::LoadDirectory(int track, int sector, bool recover) {
  dir_track_ = track;
  dir_sector_ = sector;
  if (recover) {
    recovery_warnings_ = std::make_unique<TDkStringList>();
    TDkParseStatus status = psComplete;
    entries_ = DkCbmParseDirectory(track, sector, SectorReader(), recovery_warnings_.get(), status);
  } else {
    recovery_warnings_.reset();
    entries_ = DkCbmParseDirectory(track, sector, SectorReader());
  }
}

void TDkCbmImage::SetErrorInfo(bool has_error_info, int sector_count) {
  has_error_info_ = has_error_info;
  error_info_.clear();
  if (!has_error_info) return;
  // Readers only set the flag after checking the file size, so a block that does not fit is a
  // reader fault; refuse it rather than read past the bytes.
  const std::size_t start = static_cast<std::size_t>(sector_count) * kSectorSize;
  if (sector_count < 0 ||
      !RangeInside(bytes_.size(), start, static_cast<std::size_t>(sector_count))) {
    throw Exception(Format("SetErrorInfo: %d error bytes do not fit an image of %d bytes.",
                           sector_count, static_cast<int>(bytes_.size())));
  }
  error_info_.assign(bytes_.begin() + static_cast<std::ptrdiff_t>(start),
                     bytes_.begin() + static_cast<std::ptrdiff_t>(start) + sector_count);
}

void TDkCbmImage::SetDiskHeader(ByteView header, int name_offset, int id_offset) {
  constexpr int kNameLength = 16;
  constexpr int kIdLength = 5;
  if (name_offset < 0 || id_offset < 0 ||
      !RangeInside(header.size(), static_cast<std::size_t>(name_offset), kNameLength) ||
      !RangeInside(header.size(), static_cast<std::size_t>(id_offset), kIdLength)) {
    throw Exception("SetDiskHeader: name or id outside the header sector.");
  }
  const ByteView name = header.subspan(static_cast<std::size_t>(name_offset), kNameLength);
  const ByteView id = header.subspan(static_cast<std::size_t>(id_offset), kIdLength);
  disk_name_bytes_.assign(name.begin(), name.end());
  disk_id_bytes_.assign(id.begin(), id.end());
  disk_name_ = DkCbmNameToString(name);
  disk_id_ = DkCbmNameToString(id);
}

namespace {

constexpr const char* kMissingSinkMessage =
    "DkCbmParseDirectory: the recovering overload requires a non-nil ARecoveryWarnings sink "
    "(CON-4, REVIEW-2026-08-15.md round 35) \xE2\x80\x94 \"recovered, nothing needed skipping\" "
    "and \"recovered, here's what broke\" must both be representable, and there is nowhere to put "
    "that distinction without one.";

// The walk both overloads share. `warnings` is null exactly when recovery is off.
TDkCbmEntryArray WalkDirectory(int first_track, int first_sector, const TDkCbmReadSectorFunc& read,
                               TDkStringList* warnings, TDkParseStatus& status) {
  TDkCbmEntryArray entries;
  status = psComplete;
  if (first_track == 0) {
    status = psNoDirectory;
    return entries;
  }
  if (first_track < 0 || first_track > 255 || first_sector < 0 || first_sector > 255) {
    throw EDkCbmMalformedDisk(
        Format("DkCbmParseDirectory: first directory link T%d/S%d is outside the 0..255 range.",
               first_track, first_sector));
  }

  TDkVisitedMap visited;
  int track = first_track;
  int sector = first_sector;
  while (track != 0) {
    // A directory that closes on itself simply ends; the sectors read so far are the directory.
    if (!visited.Visit(track, sector)) break;

    kelvane::Bytes data;
    try {
      data = DkCbmReadCheckedSector(read, track, sector);
    } catch (const EDkCbmMalformedDisk& error) {
      if (warnings == nullptr) throw;
      warnings->push_back(
          Format("Directory chain broke at T%d/S%d: %s. Recovered %d entries so far; the rest is "
                 "unreachable.",
                 track, sector, error.Message().c_str(), static_cast<int>(entries.size())));
      status = psBroken;
      return entries;
    }

    const ByteView view(data);
    for (int index = 0; index < dirslot::kPerSector; ++index) {
      const ByteView slot =
          view.subspan(static_cast<std::size_t>(index * dirslot::kSize), dirslot::kSize);
      if (slot[dirslot::kType] == 0) continue;  // an empty or scratched slot
      if (entries.empty()) entries.reserve(64);
      entries.push_back(DkCbmEntryFromSlot(slot, TDkCbmDirSlot{track, sector, index}));
    }
    track = data[0];
    sector = data[1];
  }
  return entries;
}

}  // namespace

TDkCbmEntryArray DkCbmParseDirectory(int first_track, int first_sector,
                                     const TDkCbmReadSectorFunc& read) {
  TDkParseStatus status = psComplete;
  return WalkDirectory(first_track, first_sector, read, nullptr, status);
}

TDkCbmEntryArray DkCbmParseDirectory(int first_track, int first_sector,
                                     const TDkCbmReadSectorFunc& read,
                                     TDkStringList* recovery_warnings, TDkParseStatus& status) {
  if (recovery_warnings == nullptr) throw Exception(kMissingSinkMessage);
  return WalkDirectory(first_track, first_sector, read, recovery_warnings, status);
}

}  // namespace kelvane
