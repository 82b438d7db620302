#include "formats/d80_d82.h"

#include "cbm/errors.h"
#include "formats/common.h"

namespace kelvane {

namespace {

constexpr int kHeaderTrack = 39;
constexpr int kBamTrack = 38;
constexpr int kTracksPerBamSector = 50;
constexpr int kBamEntryStart = 6;
constexpr int kBamEntrySize = 5;
constexpr std::uint8_t kFormatByte = 0x43;

TDkSizeMatch MatchGeometry(long long size, const TDkZoneGeometry& geometry) {
  const long long sectors = geometry.SectorCount(geometry.Tracks());
  if (size == sectors * kSectorSize) return {true, false};
  if (size == sectors * (kSectorSize + 1)) return {true, true};
  return {};
}

}  // namespace

const TDkZoneGeometry& DkD80Geometry() {
  static const TDkZoneGeometry geometry({{39, 29}, {53, 27}, {64, 25}, {77, 23}}, kD80Tracks);
  return geometry;
}

const TDkZoneGeometry& DkD82Geometry() {
  static const TDkZoneGeometry geometry({{39, 29}, {53, 27}, {64, 25}, {77, 23}}, kD82Tracks,
                                        kD80Tracks);
  return geometry;
}

TDkSizeMatch DkD80SizeMatch(long long size) {
  return MatchGeometry(size, DkD80Geometry());
}
bool DkD80SizeMatches(long long size) {
  return DkD80SizeMatch(size).Matched;
}
TDkSizeMatch DkD82SizeMatch(long long size) {
  return MatchGeometry(size, DkD82Geometry());
}
bool DkD82SizeMatches(long long size) {
  return DkD82SizeMatch(size).Matched;
}

void TDkIeeeImage::OpenAs(bool recover) {
  const std::string name = FormatName();
  const long long size = static_cast<long long>(bytes_.size());
  const TDkSizeMatch match = MatchGeometry(size, geometry_);
  const int sectors = geometry_.SectorCount(geometry_.Tracks());
  if (!match.Matched) {
    throw EDkCbmImageFormatError(
        Format("Unrecognized %s size: %lld bytes. Expected %s.", name.c_str(), size,
               DkSizePairText(sectors * kSectorSize, sectors * (kSectorSize + 1)).c_str()));
  }
  SetSectorDataSize(static_cast<std::size_t>(sectors) * kSectorSize);
  track_count_ = geometry_.Tracks();

  const kelvane::Bytes header = ReadSector(kHeaderTrack, 0);
  dos_version_ = header[2];
  if (dos_version_ != kFormatByte) {
    throw EDkCbmImageFormatError(
        Format("%s header byte $02 is $%.2x, expected 'C' ($43).", name.c_str(), dos_version_));
  }
  SetDiskHeader(header, 6, 0x18);

  // Each BAM sector (38/0, 38/3, ...) covers 50 tracks; the header track holds no files.
  const int bam_sectors = (track_count_ + kTracksPerBamSector - 1) / kTracksPerBamSector;
  std::vector<kelvane::Bytes> bam;
  for (int i = 0; i < bam_sectors; ++i) bam.push_back(ReadSector(kBamTrack, 3 * i));
  int free_blocks = 0;
  for (int track = 1; track <= track_count_; ++track) {
    if (track == kHeaderTrack) continue;
    const int k = (track - 1) % kTracksPerBamSector;
    free_blocks += bam[static_cast<std::size_t>((track - 1) / kTracksPerBamSector)]
                      [static_cast<std::size_t>(kBamEntryStart + kBamEntrySize * k)];
  }
  free_blocks_ = free_blocks;
  LoadDirectory(kHeaderTrack, 1, recover);
  SetErrorInfo(match.HasErrorInfo, sectors);
}

std::unique_ptr<TDkD80Image> TDkD80Image::Open(TDkImageBytes bytes, bool recover) {
  std::unique_ptr<TDkD80Image> image(new TDkD80Image(std::move(bytes)));
  image->OpenAs(recover);
  return image;
}

std::unique_ptr<TDkD82Image> TDkD82Image::Open(TDkImageBytes bytes, bool recover) {
  std::unique_ptr<TDkD82Image> image(new TDkD82Image(std::move(bytes)));
  image->OpenAs(recover);
  return image;
}

}  // namespace kelvane
