#include "formats/d71_d81.h"

#include "cbm/errors.h"
#include "formats/common.h"

namespace kelvane {

namespace {

constexpr int kD71Sectors = 1366;
constexpr int kD81Sectors = 3200;

TDkSizeMatch MatchSectors(long long size, int sectors) {
  if (size == static_cast<long long>(sectors) * kSectorSize) return {true, false};
  if (size == static_cast<long long>(sectors) * (kSectorSize + 1)) return {true, true};
  return {};
}

[[noreturn]] void ThrowSize(const char* format_name, long long size, int sectors) {
  throw EDkCbmImageFormatError(
      Format("Unrecognized %s size: %lld bytes. Expected %s.", format_name, size,
             DkSizePairText(sectors * kSectorSize, sectors * (kSectorSize + 1)).c_str()));
}

}  // namespace

const TDkZoneGeometry& DkD71Geometry() {
  static const TDkZoneGeometry geometry({{17, 21}, {24, 19}, {30, 18}, {35, 17}}, kD71Tracks, 35);
  return geometry;
}

TDkSizeMatch DkD71SizeMatch(long long size) {
  return MatchSectors(size, kD71Sectors);
}
bool DkD71SizeMatches(long long size) {
  return DkD71SizeMatch(size).Matched;
}
TDkSizeMatch DkD81SizeMatch(long long size) {
  return MatchSectors(size, kD81Sectors);
}
bool DkD81SizeMatches(long long size) {
  return DkD81SizeMatch(size).Matched;
}

int TDkD71Image::SectorsInTrack(int track) const {
  return DkD71Geometry().SectorsInTrack(track);
}

int TDkD71Image::SectorOffset(int track, int sector) const {
  return DkD71Geometry().SectorOffset(track, sector);
}

std::unique_ptr<TDkD71Image> TDkD71Image::Open(TDkImageBytes bytes, bool recover) {
  const long long size = static_cast<long long>(bytes.View().size());
  const TDkSizeMatch match = DkD71SizeMatch(size);
  if (!match.Matched) ThrowSize("D71", size, kD71Sectors);

  std::unique_ptr<TDkD71Image> image(new TDkD71Image(std::move(bytes)));
  image->SetSectorDataSize(static_cast<std::size_t>(kD71Sectors) * kSectorSize);
  image->track_count_ = kD71Tracks;
  const kelvane::Bytes bam = image->ReadSector(18, 0);
  image->ReadSector(53, 0);  // the second side's BAM must exist
  if (bam[3] == 0) {
    throw EDkCbmImageFormatError(
        "D71 image has the double-sided flag cleared at T18/S0 byte $03 - looks like a D64.");
  }
  image->dos_version_ = bam[2];
  image->SetDiskHeader(bam, 0x90, 0xA2);
  int free_blocks = 0;
  for (int track = 1; track <= 35; ++track) {
    if (track != 18) free_blocks += bam[static_cast<std::size_t>(4 * track)];
  }
  for (int track = 36; track <= 70; ++track) {
    if (track != 53) free_blocks += bam[static_cast<std::size_t>(0xDD + track - 36)];
  }
  image->free_blocks_ = free_blocks;
  image->LoadDirectory(18, 1, recover);
  image->SetErrorInfo(match.HasErrorInfo, kD71Sectors);
  return image;
}

int TDkD81Image::SectorOffset(int track, int sector) const {
  return ((track - 1) * kD81SectorsPerTrack + sector) * kSectorSize;
}

std::unique_ptr<TDkD81Image> TDkD81Image::Open(TDkImageBytes bytes, bool recover) {
  const long long size = static_cast<long long>(bytes.View().size());
  const TDkSizeMatch match = DkD81SizeMatch(size);
  if (!match.Matched) ThrowSize("D81", size, kD81Sectors);

  std::unique_ptr<TDkD81Image> image(new TDkD81Image(std::move(bytes)));
  image->SetSectorDataSize(static_cast<std::size_t>(kD81Sectors) * kSectorSize);
  image->track_count_ = kD81Tracks;
  const kelvane::Bytes header = image->ReadSector(40, 0);
  image->dos_version_ = header[2];
  image->SetDiskHeader(header, 4, 0x16);

  // Free counts: tracks 1-40 in 40/1, 41-80 in 40/2; the system track 40 never counts.
  const kelvane::Bytes bam1 = image->ReadSector(40, 1);
  const kelvane::Bytes bam2 = image->ReadSector(40, 2);
  int free_blocks = 0;
  for (int track = 1; track <= 39; ++track)
    free_blocks += bam1[static_cast<std::size_t>(16 + 6 * (track - 1))];
  for (int track = 41; track <= 80; ++track)
    free_blocks += bam2[static_cast<std::size_t>(16 + 6 * (track - 41))];
  image->free_blocks_ = free_blocks;
  image->LoadDirectory(40, 3, recover);
  image->SetErrorInfo(match.HasErrorInfo, kD81Sectors);
  return image;
}

}  // namespace kelvane
