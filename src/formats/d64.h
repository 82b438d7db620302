#pragma once

// 1541 disk images: 35 tracks, and the 40- and 42-track extensions of DOS variants that put the
// BAM entries of tracks 36 and up (and sometimes the disk name) in different places of 18/0.
//
// BAM sector, track 18 sector 0:
//   OFFSET      SIZE DESCRIPTION
//   0           2    link to the first directory sector (not followed; the directory is 18/1)
//   2           1    DOS version byte; $50 marks a Prologic 40-track disk
//   4*T         4    track T = 1..35: free-sector count, three bitmap bytes
//   NameOffset  16   disk name, $A0-padded ($90, Prologic $A4)
//   IdOffset    5    disk id, $A0, DOS type ($A2, Prologic $B6)
//   ExtraBam+4i 4    track 36+i: free count, three bitmap bytes (variant-dependent offset)

#include <memory>
#include <string>

#include "cbm/d64_variant.h"
#include "cbm/image.h"
#include "formats/geometry.h"

namespace kelvane {

inline constexpr int kD64BamTrack = 18;
inline constexpr int kD64BamSector = 0;
inline constexpr int kD64DirSector = 1;
inline constexpr int kD64MaxTrack = 42;

struct TDkD64SizeInfo {
  bool Matched = false;
  int TrackCount = 0;
  bool HasErrorInfo = false;
};

struct TDkD64DosVariantResult {
  bool Found = false;
  TDkD64DosVariant Variant = ddvStandard35;
  TDkD64DosVariantArray Matches;
};

struct TDkD64VariantLayout {
  int ExtraBamOffset = 0;
  int ExtraTracks = 0;
  int NameOffset = 0;
  int IdOffset = 0;
};

// Tracks 1-17: 21 sectors, 18-24: 19, 25-30: 18, 31-42: 17.
const TDkZoneGeometry& DkD64Geometry();

TDkD64SizeInfo DkD64SizeMatch(long long size);
bool DkD64SizeMatches(long long size);
std::string DkD64SizesText();

TDkD64VariantLayout DkD64VariantOffsets(TDkD64DosVariant variant);
TDkD64DosVariantResult DkD64DetectVariant(ByteView bam, int track_count);
// The detected variant (35 and 42 tracks always have one); a 40-track disk no layout fits is
// read as SpeedDOS40. Throws EDkAmbiguousD64Variant when several match.
TDkD64DosVariant DkD64ResolveVariant(ByteView bam, int track_count);
int DkD64CountFree(ByteView bam, int track_count, const TDkD64VariantLayout& layout);

class TDkD64Image : public TDkCbmImage {
 public:
  static std::unique_ptr<TDkD64Image> Open(TDkImageBytes bytes, bool recover);

  int MaxTrack() const override { return kD64MaxTrack; }
  int SectorsInTrack(int track) const override;
  int SectorOffset(int track, int sector) const override;
  std::string FormatName() const override { return "D64"; }

  TDkD64DosVariant Variant() const { return variant_; }

 private:
  explicit TDkD64Image(TDkImageBytes bytes) : TDkCbmImage(std::move(bytes)) {}
  TDkD64DosVariant variant_ = ddvStandard35;
};

}  // namespace kelvane
