#include "cbm/chain.h"

#include <algorithm>

#include "cbm/errors.h"
#include "common/format.h"

namespace kelvane {

namespace {

bool LinkInRange(int track, int sector) {
  return track >= 0 && track <= 255 && sector >= 0 && sector <= 255;
}

void VisitOrThrowLoop(TDkVisitedMap& visited, int track, int sector) {
  if (!visited.Visit(track, sector)) {
    throw EDkCbmMalformedDisk(Format("Sector chain loop at T%d/S%d.", track, sector));
  }
}

}  // namespace

Bytes DkCbmReadCheckedSector(const TDkCbmReadSectorFunc& read, int track, int sector) {
  Bytes data = read(track, sector);
  if (data.size() != static_cast<std::size_t>(kSectorSize)) {
    throw EDkCbmMalformedDisk(
        Format("AReadSector returned %d bytes for T%d/S%d; a TDkCbmReadSectorFunc must return "
               "exactly 256 bytes or raise.",
               static_cast<int>(data.size()), track, sector));
  }
  return data;
}

Bytes DkCbmChainReadFile(int start_track, int start_sector, const TDkCbmReadSectorFunc& read) {
  Bytes result;
  if (start_track == 0) return result;
  if (!LinkInRange(start_track, start_sector)) {
    throw EDkCbmMalformedDisk(
        Format("DkCbmChainReadFile: start T%d/S%d is outside the 0..255 range.", start_track,
               start_sector));
  }
  TDkVisitedMap visited;
  int track = start_track;
  int sector = start_sector;
  for (;;) {
    VisitOrThrowLoop(visited, track, sector);
    const Bytes data = DkCbmReadCheckedSector(read, track, sector);
    const int next_track = data[0];
    const int next_sector = data[1];
    if (next_track != 0) {
      result.insert(result.end(), data.begin() + 2, data.end());
      track = next_track;
      sector = next_sector;
      continue;
    }
    // Last sector: byte 1 is the index of the last used byte (0 and 1 mean no data).
    const int used = std::max(next_sector - 1, 0);
    result.insert(result.end(), data.begin() + 2, data.begin() + 2 + used);
    return result;
  }
}

int DkCbmChainCountSectors(int start_track, int start_sector, const TDkCbmReadSectorFunc& read) {
  if (start_track == 0) return 0;
  if (!LinkInRange(start_track, start_sector)) {
    throw EDkCbmMalformedDisk(
        Format("DkCbmChainCountSectors: start T%d/S%d is outside the 0..255 range.", start_track,
               start_sector));
  }
  TDkVisitedMap visited;
  int count = 0;
  int track = start_track;
  int sector = start_sector;
  while (track != 0) {
    VisitOrThrowLoop(visited, track, sector);
    ++count;
    const Bytes data = DkCbmReadCheckedSector(read, track, sector);
    track = data[0];
    sector = data[1];
  }
  return count;
}

}  // namespace kelvane
