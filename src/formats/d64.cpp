#include "formats/d64.h"

#include <array>

#include "cbm/errors.h"
#include "formats/common.h"

namespace kelvane {

namespace {

constexpr int kBamDosVersion = 2;
constexpr int kBamEntrySize = 4;
constexpr int kStandardTracks = 35;
constexpr std::uint8_t kPrologicMarker = 0x50;

// Accepted track counts in the order the size test tries them.
constexpr std::array<int, 3> kTrackCounts = {35, 40, 42};

}  // namespace

const TDkZoneGeometry& DkD64Geometry() {
  static const TDkZoneGeometry geometry({{17, 21}, {24, 19}, {30, 18}, {42, 17}}, kD64MaxTrack);
  return geometry;
}

TDkD64SizeInfo DkD64SizeMatch(long long size) {
  for (const int tracks : kTrackCounts) {
    const long long sectors = DkD64Geometry().SectorCount(tracks);
    if (size == sectors * kSectorSize) return {true, tracks, false};
    if (size == sectors * (kSectorSize + 1)) return {true, tracks, true};
  }
  return {};
}

bool DkD64SizeMatches(long long size) {
  return DkD64SizeMatch(size).Matched;
}

std::string DkD64SizesText() {
  const auto& g = DkD64Geometry();
  const int s35 = g.SectorCount(35), s40 = g.SectorCount(40), s42 = g.SectorCount(42);
  return Format(
      "%d or %d bytes (35 tracks); %d or %d bytes (40 tracks); %d or %d bytes (42 tracks) - the "
      "second of each pair includes a trailing error-info block",
      s35 * 256, s35 * 257, s40 * 256, s40 * 257, s42 * 256, s42 * 257);
}

TDkD64VariantLayout DkD64VariantOffsets(TDkD64DosVariant variant) {
  switch (variant) {
    case ddvStandard35:
      return {0, 0, 0x90, 0xA2};
    case ddvSpeedDOS40:
      return {0xC0, 5, 0x90, 0xA2};
    case ddvDolphin40:
      return {0xAC, 5, 0x90, 0xA2};
    case ddvPrologic40:
      return {0x90, 5, 0xA4, 0xB6};
    case ddvExtended42:
      return {0xC0, 7, 0x90, 0xA2};
  }
  throw EDkD64FormatError("DkD64VariantOffsets: unknown TDkD64DosVariant.");
}

namespace {

// Every four-byte group (free count, three bitmap bytes) agrees with itself and no count exceeds
// the 17 sectors of tracks 36 and up; an all-zero area proves nothing and does not match.
bool ExtraBamPlausible(ByteView bam, int offset, int count) {
  if (!RangeInside(bam.size(), static_cast<std::size_t>(offset),
                   static_cast<std::size_t>(count) * kBamEntrySize)) {
    return false;
  }
  bool any_set = false;
  for (int i = 0; i < count; ++i) {
    const std::size_t at = static_cast<std::size_t>(offset + kBamEntrySize * i);
    const int free_count = bam[at];
    if (free_count > 17) return false;
    if (free_count != DkBitCount(bam[at + 1]) + DkBitCount(bam[at + 2]) + DkBitCount(bam[at + 3])) {
      return false;
    }
    any_set = any_set || bam[at] || bam[at + 1] || bam[at + 2] || bam[at + 3];
  }
  return any_set;
}

bool NamePlausible(ByteView bam, int offset) {
  if (static_cast<std::size_t>(offset) + 18 > bam.size()) return false;
  const auto at = [&](int i) { return bam[static_cast<std::size_t>(offset + i)]; };
  const std::uint8_t first = at(0);
  const bool printable =
      first == 0xA0 || (first >= 0x20 && first <= 0x7E) || (first >= 0xC1 && first <= 0xDA);
  if (!printable) return false;
  bool padded_tail = false;
  for (int i = 12; i <= 15; ++i) padded_tail = padded_tail || at(i) == 0xA0;
  return padded_tail && at(16) == 0xA0 && at(17) == 0xA0;
}

}  // namespace

TDkD64DosVariantResult DkD64DetectVariant(ByteView bam, int track_count) {
  if (bam.size() < static_cast<std::size_t>(kSectorSize)) {
    throw EDkD64FormatError("DkD64DetectVariant: BAM sector must be 256 bytes.");
  }
  switch (track_count) {
    case 35:
      return {true, ddvStandard35, {ddvStandard35}};
    case 42:
      return {true, ddvExtended42, {ddvExtended42}};
    case 40:
      break;
    default:
      return {false, ddvStandard35, {}};
  }
  if (bam[kBamDosVersion] == kPrologicMarker) return {true, ddvPrologic40, {ddvPrologic40}};

  TDkD64DosVariantResult result;
  for (const TDkD64DosVariant candidate : {ddvDolphin40, ddvSpeedDOS40, ddvPrologic40}) {
    const TDkD64VariantLayout layout = DkD64VariantOffsets(candidate);
    if (ExtraBamPlausible(bam, layout.ExtraBamOffset, layout.ExtraTracks) &&
        NamePlausible(bam, layout.NameOffset)) {
      result.Matches.push_back(candidate);
    }
  }
  if (result.Matches.size() == 1) {
    result.Found = true;
    result.Variant = result.Matches.front();
  }
  return result;
}

TDkD64DosVariant DkD64ResolveVariant(ByteView bam, int track_count) {
  const TDkD64DosVariantResult detected = DkD64DetectVariant(bam, track_count);
  if (detected.Matches.size() > 1) throw EDkAmbiguousD64Variant(detected.Matches);
  if (detected.Found) return detected.Variant;
  return track_count == 40 ? ddvSpeedDOS40 : ddvStandard35;
}

int DkD64CountFree(ByteView bam, int track_count, const TDkD64VariantLayout& layout) {
  int free_blocks = 0;
  const int standard = std::min(track_count, kStandardTracks);
  for (int track = 1; track <= standard; ++track) {
    if (track == kD64BamTrack) continue;
    const std::size_t at = static_cast<std::size_t>(kBamEntrySize * track);
    if (at < bam.size()) free_blocks += bam[at];
  }
  if (track_count >= 36 && layout.ExtraBamOffset != 0) {
    for (int i = 0; i < layout.ExtraTracks; ++i) {
      const std::size_t at = static_cast<std::size_t>(layout.ExtraBamOffset + kBamEntrySize * i);
      if (at < bam.size()) free_blocks += bam[at];
    }
  }
  return free_blocks;
}

int TDkD64Image::SectorsInTrack(int track) const {
  return DkD64Geometry().SectorsInTrack(track);
}

int TDkD64Image::SectorOffset(int track, int sector) const {
  return DkD64Geometry().SectorOffset(track, sector);
}

std::unique_ptr<TDkD64Image> TDkD64Image::Open(TDkImageBytes bytes, bool recover) {
  const long long size = static_cast<long long>(bytes.View().size());
  const TDkD64SizeInfo info = DkD64SizeMatch(size);
  if (!info.Matched) {
    throw EDkD64FormatError(
        Format("Unrecognized D64 size: %lld bytes. Expected %s.", size, DkD64SizesText().c_str()));
  }
  std::unique_ptr<TDkD64Image> image(new TDkD64Image(std::move(bytes)));
  const int sectors = DkD64Geometry().SectorCount(info.TrackCount);
  // A 35-track image answers for tracks up to 42 like every D64, but a sector beyond its own
  // data is past its end even when an error-info block follows.
  image->SetSectorDataSize(static_cast<std::size_t>(sectors) * kSectorSize);

  const kelvane::Bytes bam = image->ReadSector(kD64BamTrack, kD64BamSector);
  const TDkD64DosVariant variant = DkD64ResolveVariant(bam, info.TrackCount);
  image->track_count_ = info.TrackCount;
  image->variant_ = variant;
  const TDkD64VariantLayout layout = DkD64VariantOffsets(variant);
  image->dos_version_ = bam[kBamDosVersion];
  image->SetDiskHeader(bam, layout.NameOffset, layout.IdOffset);
  image->free_blocks_ = DkD64CountFree(bam, info.TrackCount, layout);
  image->LoadDirectory(kD64BamTrack, kD64DirSector, recover);
  image->SetErrorInfo(info.HasErrorInfo, sectors);
  return image;
}

}  // namespace kelvane
