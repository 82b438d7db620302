#pragma once

// Zoned disk geometry: tracks grouped in zones of equal sector counts, stored one after the other
// from byte 0. D64, D71, D80 and D82 differ only in their zone tables, so they share this.

#include <array>
#include <initializer_list>
#include <vector>

namespace kelvane {

struct TDkZone {
  int last_track;  // last track of the zone (zones follow each other from track 1)
  int sectors;     // sectors on every track of the zone
};

class TDkZoneGeometry {
 public:
  // `period` > 0 repeats the zone table every `period` tracks (the second side of double-sided
  // drives repeats the first side's zones).
  TDkZoneGeometry(std::initializer_list<TDkZone> zones, int tracks, int period = 0);

  int Tracks() const { return tracks_; }
  // Sectors on `track`; 0 outside 1..Tracks().
  int SectorsInTrack(int track) const;
  // Byte offset of (track, sector); the caller has checked the address.
  int SectorOffset(int track, int sector) const;
  // Sectors on tracks 1..`tracks`.
  int SectorCount(int tracks) const;

 private:
  int tracks_;
  std::vector<int> sectors_;  // index = track, 0 unused
  std::vector<int>
      first_sector_;  // index = track, running sector count before it; [tracks+1] total
};

}  // namespace kelvane
