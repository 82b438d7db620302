#include "formats/geometry.h"

#include "cbm/entry.h"

namespace kelvane {

TDkZoneGeometry::TDkZoneGeometry(std::initializer_list<TDkZone> zones, int tracks, int period)
    : tracks_(tracks),
      sectors_(static_cast<std::size_t>(tracks) + 1, 0),
      first_sector_(static_cast<std::size_t>(tracks) + 2, 0) {
  for (int track = 1; track <= tracks; ++track) {
    const int zone_track = period > 0 ? (track - 1) % period + 1 : track;
    for (const TDkZone& zone : zones) {
      if (zone_track <= zone.last_track) {
        sectors_[static_cast<std::size_t>(track)] = zone.sectors;
        break;
      }
    }
    first_sector_[static_cast<std::size_t>(track) + 1] =
        first_sector_[static_cast<std::size_t>(track)] + sectors_[static_cast<std::size_t>(track)];
  }
}

int TDkZoneGeometry::SectorsInTrack(int track) const {
  if (track < 1 || track > tracks_) return 0;
  return sectors_[static_cast<std::size_t>(track)];
}

int TDkZoneGeometry::SectorOffset(int track, int sector) const {
  if (track < 1 || track > tracks_) return -1;
  return (first_sector_[static_cast<std::size_t>(track)] + sector) * kSectorSize;
}

int TDkZoneGeometry::SectorCount(int tracks) const {
  if (tracks < 0) return 0;
  if (tracks > tracks_) tracks = tracks_;
  return first_sector_[static_cast<std::size_t>(tracks) + 1];
}

}  // namespace kelvane
