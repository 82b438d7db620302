#pragma once

// 1571 (double-sided) and 1581 (3.5-inch) disk images.
//
// D71 BAM sector, track 18 sector 0:
//   OFFSET      SIZE DESCRIPTION
//   2           1    DOS version byte
//   3           1    double-sided flag (0: single-sided, looks like a D64)
//   4*T         4    track T = 1..35: free count, three bitmap bytes
//   $90         16   disk name
//   $A2         5    disk id, $A0, DOS type
//   $DD+T-36    1    track T = 36..70: free count (bitmaps in 53/0)
//
// D81 system sectors on track 40:
//   SECTOR OFFSET      SIZE DESCRIPTION
//   0      2           1    DOS version byte
//   0      4           16   disk name
//   0      $16         5    disk id, $A0, DOS type
//   1      16+6*(T-1)  6    track T = 1..40: free count, five bitmap bytes
//   2      16+6*(T-41) 6    track T = 41..80: free count, five bitmap bytes
//   3                       first directory sector (always; the header link is not followed)

#include <memory>

#include "cbm/image.h"
#include "formats/geometry.h"

namespace kelvane {

struct TDkSizeMatch {
  bool Matched = false;
  bool HasErrorInfo = false;
};

inline constexpr int kD71Tracks = 70;
inline constexpr int kD81Tracks = 80;
inline constexpr int kD81SectorsPerTrack = 40;

// Tracks 1-35 as a 35-track D64, tracks 36-70 repeat them.
const TDkZoneGeometry& DkD71Geometry();

TDkSizeMatch DkD71SizeMatch(long long size);
bool DkD71SizeMatches(long long size);
TDkSizeMatch DkD81SizeMatch(long long size);
bool DkD81SizeMatches(long long size);

class TDkD71Image : public TDkCbmImage {
 public:
  static std::unique_ptr<TDkD71Image> Open(TDkImageBytes bytes, bool recover);
  int MaxTrack() const override { return kD71Tracks; }
  int SectorsInTrack(int track) const override;
  int SectorOffset(int track, int sector) const override;
  std::string FormatName() const override { return "D71"; }

 private:
  using TDkCbmImage::TDkCbmImage;
};

class TDkD81Image : public TDkCbmImage {
 public:
  static std::unique_ptr<TDkD81Image> Open(TDkImageBytes bytes, bool recover);
  int MaxTrack() const override { return kD81Tracks; }
  int SectorsInTrack(int) const override { return kD81SectorsPerTrack; }
  int SectorOffset(int track, int sector) const override;
  std::string FormatName() const override { return "D81"; }

 private:
  using TDkCbmImage::TDkCbmImage;
};

}  // namespace kelvane
