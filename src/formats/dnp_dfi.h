#pragma once

// CMD native partitions (DNP) and DreamLoad file archives (DFI): flat geometry of up to 256
// tracks of 256 sectors, one track per 64 KiB. Both read a header at 1/1 whose first two bytes
// link to the directory.
//
// DNP header, track 1 sector 1 (image bytes 256..511):
//   OFFSET SIZE DESCRIPTION
//   0      2    first directory sector
//   2      1    format byte, must be $48 ('H')
//   4      16   disk name
//   $16    5    disk id, $A0, DOS type
//   $20    2    both 1 in the current layout
// DNP free-sector bitmap, 32 bytes per track (bit set = free): current layout from image byte 544
// (1/2 byte 32, with 1/2 bytes 2-3 = $48 $B7), old layout from image byte 288.
//
// DFI: image bytes 1..22 spell "DREAMLOAD FILE ARCHIVE"; the header 1/1 is laid out like a 1541
// BAM sector (name $90, id $A2); the allocation bitmap starts at image byte $1000, one bit per
// sector in image order, set = used.

#include <memory>

#include "cbm/image.h"

namespace kelvane {

inline constexpr int kDnpTrackBytes = 65536;
inline constexpr int kDnpMaxTracks = 256;
inline constexpr int kDnpBitmapMaxIndex = 8191;

struct TDkDnpSizeInfo {
  bool Matched = false;
  int TrackCount = 0;
};

TDkDnpSizeInfo DkDnpSizeMatch(long long size);
bool DkDnpSizeMatches(long long size);
std::string DkDnpSizesText();
bool DkDfiHasSignature(ByteView bytes);
bool DkDnpIsCurrentLayout(ByteView bytes);
// Old-layout bitmap byte `index` (0..8191), at image byte 288 + index.
std::uint8_t DkDnpBitmapByte(ByteView bytes, int index);

// Free sectors as the BAM counts them: DNP by the layout in force, DFI from its used-bit map.
int DkDnpCountFree(ByteView bytes, int track_count);
int DkDfiCountFree(ByteView bytes, int track_count);

// The flat geometry both formats share.
class TDkFlatImage : public TDkCbmImage {
 public:
  int MaxTrack() const override { return track_count_; }
  int SectorsInTrack(int track) const override;
  int SectorOffset(int track, int sector) const override;

 protected:
  using TDkCbmImage::TDkCbmImage;
  // The header's directory link must name a track of this image.
  void CheckDirectoryTrack(ByteView header, const char* what) const;
};

class TDkDnpImage : public TDkFlatImage {
 public:
  static std::unique_ptr<TDkDnpImage> Open(TDkImageBytes bytes, bool recover);
  std::string FormatName() const override { return "DNP"; }

 private:
  using TDkFlatImage::TDkFlatImage;
};

class TDkDfiImage : public TDkFlatImage {
 public:
  static std::unique_ptr<TDkDfiImage> Open(TDkImageBytes bytes, bool recover);
  std::string FormatName() const override { return "DFI"; }

 private:
  using TDkFlatImage::TDkFlatImage;
};

}  // namespace kelvane
