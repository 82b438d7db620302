#include "write/drop_prep.h"

#include "formats/pc64.h"
#include "write/directory_writer.h"
#include "write/names.h"

namespace kelvane {

namespace {

// The extension by the name rules: from the last dot on, none when the only dot is the first
// character.
std::string ExtensionOf(const std::string& file_name) {
  const std::size_t dot = file_name.rfind('.');
  return (dot == std::string::npos || dot == 0) ? std::string() : file_name.substr(dot);
}

}  // namespace

TDkPreparedFile DkPrepareDroppedFile(const std::string& file_name, ByteView bytes) {
  TDkPreparedFile prepared;
  Bytes name_bytes;
  TDkCbmFileType type = cftPRG;
  Bytes data;
  if (DkPcSidecarRead(file_name, bytes, name_bytes, type, data)) {
    prepared.RawName = std::move(name_bytes);
    prepared.CbmName = DkCbmNameToString(prepared.RawName);
    prepared.FileType = type;
    prepared.Content = std::move(data);
    return prepared;
  }
  prepared.CbmName = DkCbmUniqueName(file_name);
  prepared.FileType = DkFileTypeForHostName(file_name);
  prepared.Content.assign(bytes.begin(), bytes.end());
  return prepared;
}

TDkCbmFileType DkFileTypeForHostName(const std::string& file_name) {
  TDkCbmFileType type = cftPRG;
  if (DkCbmFileTypeFromExtension(ExtensionOf(file_name), type) && type != cftREL) return type;
  return cftPRG;
}

int DkBlocksForBytes(std::int64_t byte_count, TDkCbmFileType file_type) {
  if (byte_count < 1) return file_type == cftDEL ? 0 : 1;
  return static_cast<int>((byte_count + 253) / 254);
}

TDkSpacePlan DkPlanSpace(const TDkCbmImageWriter& writer,
                         const std::vector<TDkCbmSpaceSource>& sources) {
  TDkSpacePlan plan;
  int entries = 0;
  for (const TDkCbmSpaceSource& source : sources) {
    if (source.FileType == cftREL || source.FileType == cftCBM || source.FileType == cftDIR)
      continue;
    plan.Blocks += DkBlocksForBytes(source.ByteCount, source.FileType);
    ++entries;
  }
  const int dir_track = writer.DirTrack();
  const int dir_sector = writer.FirstDirSector();
  if (entries == 1) {
    plan.DirSectors = DkCbmDirExtensionNeeded(writer, dir_track, dir_sector);
  } else if (entries > 1) {
    // Free slots along the chain; a chain longer than 256 sectors counts as no room to plan with.
    int free_slots = 0;
    int track = dir_track;
    int sector = dir_sector;
    int count = 0;
    for (; track != 0 && count < 256; ++count) {
      const Bytes data = writer.ReadSector(track, sector);
      for (int e = 0; e < 8; ++e) free_slots += data[static_cast<std::size_t>(2 + 32 * e)] == 0;
      track = data[0];
      sector = data[1];
    }
    if (track == 0 && free_slots < entries) plan.DirSectors = (entries - free_slots + 7) / 8;
  }
  plan.Total = plan.Blocks + plan.DirSectors;
  plan.Free = writer.FileFreeBlocks();
  return plan;
}

bool DkPlanFits(const TDkSpacePlan& plan) {
  return plan.Free >= plan.Total;
}

}  // namespace kelvane
