#pragma once

// 8050 (77 tracks) and 8250 (154 tracks) disk images. Both share the zone table, the header on
// track 39 and five-byte BAM entries on track 38.
//
// Header, track 39 sector 0:
//   OFFSET SIZE DESCRIPTION
//   2      1    DOS format byte, must be $43 ('C')
//   6      16   disk name
//   $18    5    disk id, $A0, DOS type
// BAM sectors on track 38 (0, 3; D82 also 6, 9), each covering 50 tracks:
//   6+5*k  5    k-th track of the sector: free count, four bitmap bytes
// The directory always starts at 39/1.

#include <memory>

#include "cbm/image.h"
#include "formats/d71_d81.h"
#include "formats/geometry.h"

namespace kelvane {

inline constexpr int kD80Tracks = 77;
inline constexpr int kD82Tracks = 154;

const TDkZoneGeometry& DkD80Geometry();
const TDkZoneGeometry& DkD82Geometry();

TDkSizeMatch DkD80SizeMatch(long long size);
bool DkD80SizeMatches(long long size);
TDkSizeMatch DkD82SizeMatch(long long size);
bool DkD82SizeMatches(long long size);

// Shared reader of both formats; the concrete classes fix the track count and name.
class TDkIeeeImage : public TDkCbmImage {
 public:
  int MaxTrack() const override { return geometry_.Tracks(); }
  int SectorsInTrack(int track) const override { return geometry_.SectorsInTrack(track); }
  int SectorOffset(int track, int sector) const override {
    return geometry_.SectorOffset(track, sector);
  }

 protected:
  TDkIeeeImage(TDkImageBytes bytes, const TDkZoneGeometry& geometry)
      : TDkCbmImage(std::move(bytes)), geometry_(geometry) {}
  // The opening sequence both formats share.
  void OpenAs(bool recover);

 private:
  const TDkZoneGeometry& geometry_;
};

class TDkD80Image : public TDkIeeeImage {
 public:
  static std::unique_ptr<TDkD80Image> Open(TDkImageBytes bytes, bool recover);
  std::string FormatName() const override { return "D80"; }

 private:
  explicit TDkD80Image(TDkImageBytes bytes) : TDkIeeeImage(std::move(bytes), DkD80Geometry()) {}
};

class TDkD82Image : public TDkIeeeImage {
 public:
  static std::unique_ptr<TDkD82Image> Open(TDkImageBytes bytes, bool recover);
  std::string FormatName() const override { return "D82"; }

 private:
  explicit TDkD82Image(TDkImageBytes bytes) : TDkIeeeImage(std::move(bytes), DkD82Geometry()) {}
};

}  // namespace kelvane
