#pragma once

// G64, G71 and NIB files: 1541 and 1571 disks as the bit streams on their tracks. They are never
// kept as such: the GCR on each track is decoded into sectors and the result is handed on as the
// bytes of a plain D64 (a G71: a D71; no error-info block), with a list of the sectors that could
// not be read.
//
// G64 file (little-endian):
//   OFFSET      SIZE DESCRIPTION
//   0           8    "GCR-1541" or "GCR-1571"
//   8           1    version, must be 0
//   9           1    number of track slots N (slot i is track i/2 + 1, odd slots half-tracks)
//   10          2    largest track length in bytes
//   12          4*N  file offset of each slot's track record, 0 = no track
//   12+4N       4*N  speed zone of each slot (0-3; anything else is kept as -1)
//   record      2    track length L, then L bytes of GCR, most significant bit first
//
// G71: the same layout, signature "GCR-1571" and 168 slots: 0-83 side one, 84-167 side two, whose
// track t is the D71's track 35 + t (its sector headers carry that number, its zones are track
// t's).
//
// NIB file:
//   0           13   "MNIB-1541-RAW"
//   16          2*120 track table: half-track number (2 = track 1), density (low bits: zone);
//                    ends at the first half-track byte 0
//   256+8192*k  8192 raw GCR of the k-th listed track, byte-aligned, more than one revolution

#include <string>
#include <vector>

#include "cbm/errors.h"
#include "common/bytes.h"

namespace kelvane {

class EDkG64Image : public EDkCbmImageFormatError {
 public:
  using EDkCbmImageFormatError::EDkCbmImageFormatError;
};

class EDkNibImage : public EDkCbmImageFormatError {
 public:
  using EDkCbmImageFormatError::EDkCbmImageFormatError;
};

struct TDkG64Track {
  int SlotIndex = 0;
  std::string Label;   // "1.0", "1.5", ..., "18.5"
  int DataOffset = 0;  // file offset of the track record; 0 for an empty slot
  int Length = 0;
  int Speed = -1;  // 0-3, or -1
};

using TDkG64TrackArray = std::vector<TDkG64Track>;

class TDkG64Image {
 public:
  // Validates and indexes a G64 file; throws EDkG64Image.
  static TDkG64Image Parse(ByteView bytes);

  const Bytes& FileBytes() const { return bytes_; }
  const std::string& Signature() const { return signature_; }
  std::uint8_t Version() const { return version_; }
  int TrackSlotCount() const { return slot_count_; }
  int MaxTrackLength() const { return max_track_length_; }
  const TDkG64TrackArray& Tracks() const { return tracks_; }

 private:
  Bytes bytes_;
  std::string signature_;
  std::uint8_t version_ = 0;
  int slot_count_ = 0;
  int max_track_length_ = 0;
  TDkG64TrackArray tracks_;
};

struct TDkG64TrackDecode {
  Bytes Sectors;  // sectors x 256, zero where nothing was decoded
  Bytes Found;    // one flag (0 or 1) per sector
};

struct TDkG64BadSector {
  int Track = 0;
  int Sector = 0;
  bool operator==(const TDkG64BadSector&) const = default;
};

using TDkG64BadSectorArray = std::vector<TDkG64BadSector>;

struct TDkG64Sectors {
  Bytes ImageBytes;
  int TrackCount = 35;              // 35 to 42; 70 for a G71
  TDkG64BadSectorArray BadSectors;  // D71 track numbers on a G71's second side
  bool DoubleSided = false;         // a G71: ImageBytes are a D71
};

struct TDkGcrConversion {
  Bytes ImageBytes;
  int BadSectorCount = 0;
  bool DoubleSided = false;
};

// The extension the decoded bytes are detected by: ".d71" for a G71, ".d64" otherwise.
const char* DkGcrDecodedExtension(bool double_sided);

// 1541 geometry of the produced image, tracks 1 to 42 (0 sectors for any other track).
int DkG64SectorsPerTrack(int track);
int DkG64SectorOffset(int track, int sector);

// Decodes the sectors of `track` from the `length` GCR bytes at `start` of `bytes`, read as a
// circular bit stream. Sector headers must carry `header_track` (0: `track` itself; a 1571's
// second side numbers its tracks 36-70).
TDkG64TrackDecode DkGcrDecodeTrack(ByteView bytes, int start, int length, int track,
                                   int header_track = 0);

// A "GCR-1571" file with more than 84 slots is a G71 and decodes to both sides of a D71.
TDkG64Sectors DkG64DecodeSectors(const TDkG64Image& image);
TDkGcrConversion DkG64ToD64(ByteView bytes);
// Builds a G64 file from a NIB file (one revolution per track); throws EDkNibImage.
Bytes DkNibToG64(ByteView bytes);
// The entry point: a ".nib" (any case) goes through DkNibToG64 first.
TDkGcrConversion DkGcrImageToD64(ByteView bytes, const std::string& extension);

// Byte-aligned sync search in NIB track data: moves `position` to the first byte after the next
// sync's FF run; false (position = end) when there is none before `end`.
bool DkNibNextSync(ByteView data, int& position, int end);

struct TDkNibRevolution {
  int Length = 0;
  int Start = -1;
};

// One revolution of at least `least_length` bytes, found by repeating sync patterns.
TDkNibRevolution DkNibFindRevolution(ByteView data, int least_length);

// The 5-bit GCR code of each nibble, and the inverse (255 for the 16 codes that are not used).
extern const std::uint8_t kDkGcrEncode[16];
std::uint8_t DkGcrDecodeNibble(std::uint8_t code);

}  // namespace kelvane
