#pragma once

// File chains: a file is a singly linked list of sectors. Bytes 0-1 of each sector link to the
// next (track 0 ends the chain), bytes 2-255 carry data; in the last sector byte 1 is the index of
// the last used byte, so a file is 254 * (sectors - 1) + (byte1 - 1) bytes long.

#include <bitset>

#include "cbm/entry.h"

namespace kelvane {

// One flag per possible (track, sector) link pair. Every walk carries one, so every walk ends:
// a chain of distinct sectors cannot be longer than 65536.
class TDkVisitedMap {
 public:
  // Marks (track, sector), both 0..255; returns false when it was already marked.
  bool Visit(int track, int sector) {
    const std::size_t index =
        static_cast<std::size_t>(track) * 256 + static_cast<std::size_t>(sector);
    if (flags_.test(index)) return false;
    flags_.set(index);
    return true;
  }

 private:
  std::bitset<65536> flags_;
};

// Reads a sector through `read` and enforces the 256-byte contract of TDkCbmReadSectorFunc.
Bytes DkCbmReadCheckedSector(const TDkCbmReadSectorFunc& read, int track, int sector);

// The file's bytes along its chain. Start track 0 gives an empty file without reading anything.
Bytes DkCbmChainReadFile(int start_track, int start_sector, const TDkCbmReadSectorFunc& read);

// Number of sectors in the chain. Start track 0 gives 0.
int DkCbmChainCountSectors(int start_track, int start_sector, const TDkCbmReadSectorFunc& read);

}  // namespace kelvane
