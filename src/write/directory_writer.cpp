#include "write/directory_writer.h"

#include <algorithm>
#include <cstring>
#include <functional>

#include "cbm/errors.h"
#include "common/format.h"
#include "common/text.h"
#include "write/names.h"

namespace kelvane {

namespace {

constexpr int kMaxDirSectors = 256;
constexpr int kEntrySize = 32;
constexpr int kEntriesPerSector = 8;
constexpr char kGeosSignature[] = "GEOS format V1.";
constexpr std::size_t kGeosSignatureOffset = 0xAD;

bool ValidSector(const TDkCbmImageWriter& writer, int track, int sector) {
  return track >= 1 && track <= writer.TrackCount() && track <= 255 && sector >= 0 &&
         sector < writer.SectorsOnTrack(track) && sector <= 255;
}

// Walks the directory chain from (track, sector), at most 256 sectors, calling `visit` with each
// sector's position and bytes; `visit` returns false to stop. Returns true when the chain ended
// normally (link track 0), false when it stopped early or ran past 256 sectors.
bool WalkDirectory(const TDkCbmImageWriter& writer, int track, int sector,
                   const std::function<bool(int, int, const Bytes&)>& visit) {
  for (int count = 0; track != 0; ++count) {
    if (count >= kMaxDirSectors) return false;
    const Bytes data = writer.ReadSector(track, sector);
    if (!visit(track, sector, data)) return false;
    track = data[0];
    sector = data[1];
  }
  return true;
}

std::string UpperTrimmed(std::string text) {
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') text.pop_back();
  return DkAsciiUpper(std::move(text));
}

// Marks a chain in the map; ends at a marked or invalid sector, or quietly at an unreadable one.
void MarkChain(const TDkCbmImageWriter& writer, int track, int sector, TDkSectorOccupancy& map) {
  while (track != 0 && ValidSector(writer, track, sector) && map.At(track, sector) == 0) {
    map.At(track, sector) = 1;
    try {
      const int next_track = writer.SectorByte(track, sector, 0);
      sector = writer.SectorByte(track, sector, 1);
      track = next_track;
    } catch (const EDkCbmMalformedDisk&) {
      return;
    }
  }
}

}  // namespace

bool DkCbmIsGeosDisk(const TDkCbmImageWriter& writer) {
  const Bytes header = writer.ReadHeaderSector();
  return std::memcmp(header.data() + kGeosSignatureOffset, kGeosSignature,
                     sizeof kGeosSignature - 1) == 0;
}

void DkCbmBuildOccupancy(const TDkCbmImageWriter& writer, int dir_track, int dir_sector,
                         TDkSectorOccupancy& map) {
  writer.BuildSystemSectorMap(dir_track, dir_sector, map);
  const bool geos = DkCbmIsGeosDisk(writer);
  int track = dir_track;
  int sector = dir_sector;
  for (int count = 0; count < kMaxDirSectors && ValidSector(writer, track, sector); ++count) {
    const Bytes data = writer.ReadSector(track, sector);
    for (int e = 0; e < kEntriesPerSector; ++e) {
      const std::size_t at = static_cast<std::size_t>(e * kEntrySize);
      const std::uint8_t type = data[at + 2];
      const int number = type & 7;
      if (type == 0 || number == cftDEL || number == cftCBM) continue;
      MarkChain(writer, data[at + 3], data[at + 4], map);
      if (number == cftREL) MarkChain(writer, data[at + 21], data[at + 22], map);
      if (geos && data[at + 24] != 0) {
        MarkChain(writer, data[at + 21], data[at + 22], map);
        if (data[at + 23] == 1 && ValidSector(writer, data[at + 3], data[at + 4])) {
          Bytes index;
          try {
            index = writer.ReadSector(data[at + 3], data[at + 4]);
          } catch (const EDkCbmMalformedDisk&) {
            continue;
          }
          for (int k = 0; k < 127; ++k) {
            const int t = index[static_cast<std::size_t>(2 + 2 * k)];
            const int s = index[static_cast<std::size_t>(3 + 2 * k)];
            if (t == 0 && s == 255) continue;  // an empty record
            if (t == 0 && s == 0) break;       // the end of the records
            MarkChain(writer, t, s, map);
          }
        }
      }
    }
    track = data[0];
    sector = data[1];
  }
}

int DkCbmCountHiddenUsed(const TDkCbmImageWriter& writer, const TDkSectorOccupancy& map) {
  int hidden = 0;
  for (int track = 1; track <= std::min(writer.TrackCount(), 255); ++track) {
    if (track == writer.DirTrack()) continue;
    const int sectors = std::min(writer.SectorsOnTrack(track), 256);
    for (int sector = 0; sector < sectors; ++sector) {
      if (map.At(track, sector) != 0 && writer.IsSectorFree(track, sector)) ++hidden;
    }
  }
  return hidden;
}

int DkCbmDirExtensionNeeded(const TDkCbmImageWriter& writer, int dir_track, int dir_sector) {
  if (dir_track == 0) return 0;
  bool free_slot = false;
  const bool ended = WalkDirectory(writer, dir_track, dir_sector, [&](int, int, const Bytes& data) {
    for (int e = 0; e < kEntriesPerSector; ++e) {
      if (data[static_cast<std::size_t>(e * kEntrySize + 2)] == 0) free_slot = true;
    }
    return !free_slot;
  });
  return (!free_slot && ended) ? 1 : 0;
}

void DkCbmCheckNameFree(const TDkCbmImageWriter& writer, int dir_track, int dir_sector,
                        ByteView name16) {
  WalkDirectory(writer, dir_track, dir_sector, [&](int, int, const Bytes& data) {
    for (int e = 0; e < kEntriesPerSector; ++e) {
      const std::size_t at = static_cast<std::size_t>(e * kEntrySize);
      if (data[at + 2] == 0) continue;
      if (DkCbmNamesEqual(ByteView(data).subspan(at + 5, kDkCbmNameLength), name16)) {
        throw EDkCbmConstraintViolation(
            Format("A file named '%s' already exists.", DkCbmNameToString(name16).c_str()));
      }
    }
    return true;
  });
}

bool DkCbmHostNameInDirectory(const TDkCbmImageWriter& writer, int dir_track, int dir_sector,
                              const std::string& host_name) {
  const std::string wanted = UpperTrimmed(host_name);
  bool found = false;
  WalkDirectory(writer, dir_track, dir_sector, [&](int, int, const Bytes& data) {
    for (int e = 0; e < kEntriesPerSector && !found; ++e) {
      const std::size_t at = static_cast<std::size_t>(e * kEntrySize);
      if (data[at + 2] == 0) continue;
      found = UpperTrimmed(DkCbmNameToString(ByteView(data).subspan(at + 5, kDkCbmNameLength))) ==
              wanted;
    }
    return !found;
  });
  return found;
}

bool DkCbmBytesNameInDirectory(const TDkCbmImageWriter& writer, int dir_track, int dir_sector,
                               const std::string& host_name) {
  const Bytes wanted = DkCbmHostNameToBytes(host_name);
  bool found = false;
  WalkDirectory(writer, dir_track, dir_sector, [&](int, int, const Bytes& data) {
    for (int e = 0; e < kEntriesPerSector && !found; ++e) {
      const std::size_t at = static_cast<std::size_t>(e * kEntrySize);
      if (data[at + 2] == 0) continue;
      found = DkCbmNamesEqual(ByteView(data).subspan(at + 5, kDkCbmNameLength), wanted);
    }
    return !found;
  });
  return found;
}

void DkCbmFindFreeSlot(TDkCbmImageWriter& writer, int dir_track, int dir_sector, int& track,
                       int& sector, int& slot) {
  int current_track = dir_track;
  int current_sector = dir_sector;
  for (int count = 1; current_track != 0 && count <= kMaxDirSectors; ++count) {
    const Bytes data = writer.ReadSector(current_track, current_sector);
    for (int e = 0; e < kEntriesPerSector; ++e) {
      if (data[static_cast<std::size_t>(e * kEntrySize + 2)] == 0) {
        track = current_track;
        sector = current_sector;
        slot = e;
        return;
      }
    }
    if (data[0] == 0) {
      if (writer.ExtendDirectory(current_track, current_sector, track, sector, slot)) return;
      throw EDkCbmConstraintViolation(
          Format("Directory is full on this %s image.", writer.DriveName().c_str()));
    }
    current_track = data[0];
    current_sector = data[1];
  }
  throw EDkCbmConstraintViolation("Directory chain is corrupt.");
}

TDkCbmEntry DkCbmAddFile(TDkCbmImageWriter& writer, int dir_track, int dir_sector, ByteView name,
                         TDkCbmFileType file_type, ByteView content) {
  // Checks: nothing changes until all of them pass.
  if (file_type == cftCBM || file_type == cftDIR) {
    throw EDkCbmConstraintViolation(Format("Cannot write a %s entry on a %s image.",
                                           DkCbmFileTypeName(file_type).c_str(),
                                           writer.DriveName().c_str()));
  }
  if (file_type == cftREL) {
    throw EDkCbmConstraintViolation(
        Format("REL files need side sectors the %s writer does not emit yet.",
               writer.DriveName().c_str()));
  }
  const Bytes name16 = DkCbmValidateFileName(name);
  DkCbmCheckNameFree(writer, dir_track, dir_sector, name16);
  const std::size_t length = content.size();
  const int blocks = (file_type == cftDEL && length == 0) ? 0
                     : length == 0                        ? 1
                                                          : static_cast<int>((length + 253) / 254);
  TDkSectorOccupancy map;
  DkCbmBuildOccupancy(writer, dir_track, dir_sector, map);
  // A new directory sector is counted against the blocks files may use, even where it comes
  // from a reserved area: at worst a file that would just have fitted is refused.
  const int available = writer.FileFreeBlocks() - DkCbmCountHiddenUsed(writer, map);
  const int extension = DkCbmDirExtensionNeeded(writer, dir_track, dir_sector);
  if (blocks + extension > available) {
    std::string needs = Format("File does not fit on this %s image: needs %d block(s)",
                               writer.DriveName().c_str(), blocks);
    if (extension > 0) needs += Format(" + %d for directory extension", extension);
    throw EDkCbmConstraintViolation(Format("%s, only %d free (%d byte(s) of content).",
                                           needs.c_str(), available, static_cast<int>(length)));
  }

  // Slot and blocks, under protection of every sector already in use.
  int entry_track = 0, entry_sector = 0, entry_slot = 0;
  std::vector<std::pair<int, int>> chain;
  chain.reserve(static_cast<std::size_t>(blocks));
  writer.SetProtectedSectors(&map);
  try {
    DkCbmFindFreeSlot(writer, dir_track, dir_sector, entry_track, entry_sector, entry_slot);
    int previous_track = -1, previous_sector = -1;
    for (int i = 0; i < blocks; ++i) {
      int track = 0, sector = 0;
      if (!writer.AllocateDataSector(previous_track, previous_sector, track, sector)) {
        throw EDkCbmConstraintViolation("No free sectors available.");
      }
      chain.emplace_back(track, sector);
      previous_track = track;
      previous_sector = sector;
    }
  } catch (...) {
    writer.SetProtectedSectors(nullptr);
    throw;
  }
  writer.SetProtectedSectors(nullptr);

  for (std::size_t i = 0; i < chain.size(); ++i) {
    Bytes block(kSectorSize, 0);
    const std::size_t start = i * 254;
    const std::size_t count = std::min<std::size_t>(254, length - std::min(length, start));
    if (i + 1 < chain.size()) {
      block[0] = static_cast<std::uint8_t>(chain[i + 1].first);
      block[1] = static_cast<std::uint8_t>(chain[i + 1].second);
    } else {
      block[0] = 0;
      block[1] = static_cast<std::uint8_t>(1 + count);
    }
    std::copy_n(content.begin() + static_cast<std::ptrdiff_t>(start), count, block.begin() + 2);
    writer.WriteSector(chain[i].first, chain[i].second, block);
  }

  Bytes dir = writer.ReadSector(entry_track, entry_sector);
  const std::size_t at = static_cast<std::size_t>(entry_slot * kEntrySize);
  std::fill(dir.begin() + static_cast<std::ptrdiff_t>(at) + 3,
            dir.begin() + static_cast<std::ptrdiff_t>(at) + 32, 0);
  const std::uint8_t type_byte = static_cast<std::uint8_t>(0x80 | static_cast<int>(file_type));
  dir[at + 2] = type_byte;
  const int first_track = chain.empty() ? 0 : chain.front().first;
  const int first_sector = chain.empty() ? 0 : chain.front().second;
  dir[at + 3] = static_cast<std::uint8_t>(first_track);
  dir[at + 4] = static_cast<std::uint8_t>(first_sector);
  std::copy(name16.begin(), name16.end(), dir.begin() + static_cast<std::ptrdiff_t>(at) + 5);
  const int stored_blocks = std::clamp(blocks, 0, 65535);
  dir[at + 30] = static_cast<std::uint8_t>(stored_blocks & 0xFF);
  dir[at + 31] = static_cast<std::uint8_t>(stored_blocks >> 8);
  writer.FinishEntry(dir, static_cast<int>(at));
  writer.WriteSector(entry_track, entry_sector, dir);

  TDkCbmEntry entry;
  entry.Name = DkCbmNameToString(name16);
  entry.NameBytes = name16;
  entry.FileType = file_type;
  entry.RawType = type_byte;
  entry.FirstTrack = first_track;
  entry.FirstSector = first_sector;
  entry.Blocks = blocks;
  entry.Closed = true;
  entry.Location = {entry_track, entry_sector, entry_slot};
  return entry;
}

}  // namespace kelvane
