#pragma once

// Adding one file to an image through any writer: refuse what the format cannot hold, check the
// name, prove the file (and a possible directory extension) fits, find a slot, allocate blocks in
// the drive's own order, write the chain, then the entry. Sectors that any chain, the header, the
// BAM or the directory uses are protected from allocation even where the BAM wrongly calls them
// free.

#include <string>

#include "cbm/entry.h"
#include "write/writer_base.h"

namespace kelvane {

// The new entry as the directory now holds it. Steps before the first change (type, name, clash,
// space) refuse without touching a byte; a failure after that leaves partial changes in the
// array, which the caller discards.
TDkCbmEntry DkCbmAddFile(TDkCbmImageWriter& writer, int dir_track, int dir_sector, ByteView name,
                         TDkCbmFileType file_type, ByteView content);

void DkCbmFindFreeSlot(TDkCbmImageWriter& writer, int dir_track, int dir_sector, int& track,
                       int& sector, int& slot);
void DkCbmCheckNameFree(const TDkCbmImageWriter& writer, int dir_track, int dir_sector,
                        ByteView name16);
bool DkCbmHostNameInDirectory(const TDkCbmImageWriter& writer, int dir_track, int dir_sector,
                              const std::string& host_name);
bool DkCbmBytesNameInDirectory(const TDkCbmImageWriter& writer, int dir_track, int dir_sector,
                               const std::string& host_name);

bool DkCbmIsGeosDisk(const TDkCbmImageWriter& writer);
void DkCbmBuildOccupancy(const TDkCbmImageWriter& writer, int dir_track, int dir_sector,
                         TDkSectorOccupancy& map);
int DkCbmCountHiddenUsed(const TDkCbmImageWriter& writer, const TDkSectorOccupancy& map);
int DkCbmDirExtensionNeeded(const TDkCbmImageWriter& writer, int dir_track, int dir_sector);

}  // namespace kelvane
