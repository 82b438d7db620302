// Directory walks and file chains over arbitrary sector data.
//
// Input layout: byte 0 sectors per track (1..32), byte 1 extra tracks the geometry accepts beyond
// the data (0..3), bytes 2-3 first directory track/sector, byte 4 reader faults (bit 0: some
// sectors come back with the wrong length; bits 1-3 choose which), then the image bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "cbm/chain.h"
#include "cbm/errors.h"
#include "support/disk_builder.h"

using namespace kelvane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 5) return 0;
  const int sectors_per_track = 1 + data[0] % 32;
  const int extra_tracks = data[1] % 4;
  const int first_track = data[2];
  const int first_sector = data[3];
  const int faults = data[4];
  Bytes image_bytes(data + 5, data + size);
  const int tracks =
      static_cast<int>(image_bytes.size() / static_cast<std::size_t>(sectors_per_track * 256));
  testing::FlatImage image(std::move(image_bytes), tracks + extra_tracks, sectors_per_track);

  const TDkCbmReadSectorFunc plain = image.SectorReader();
  const TDkCbmReadSectorFunc read = [&](int track, int sector) {
    Bytes sector_bytes = plain(track, sector);
    if ((faults & 1) && (track + sector) % 8 == (faults >> 1) % 8)
      sector_bytes.resize(faults % 300);
    return sector_bytes;
  };

  try {
    DkCbmParseDirectory(first_track, first_sector, read);
  } catch (const EDkCbmMalformedDisk&) {
  }

  TDkStringList warnings;
  TDkParseStatus status = psComplete;
  TDkCbmEntryArray entries;
  try {
    entries = DkCbmParseDirectory(first_track, first_sector, read, &warnings, status);
  } catch (const EDkCbmMalformedDisk&) {
    return 0;  // only the first-link range check may raise here
  }
  if (status != psBroken && !warnings.empty()) std::abort();
  if (entries.size() > 65536u * 8u) std::abort();

  for (const TDkCbmEntry& entry : entries) {
    try {
      const Bytes file = DkCbmChainReadFile(entry.FirstTrack, entry.FirstSector, read);
      const int sectors = DkCbmChainCountSectors(entry.FirstTrack, entry.FirstSector, read);
      // Every sector but the last carries 254 bytes, the last at most 254.
      if (file.size() > static_cast<std::size_t>(sectors) * 254u) std::abort();
      if (sectors > 0 && file.size() + 254u < static_cast<std::size_t>(sectors) * 254u)
        std::abort();
    } catch (const EDkCbmMalformedDisk&) {
    }
  }
  return 0;
}
