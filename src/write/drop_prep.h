#pragma once

// Turning dropped host files into what a directory entry needs, and measuring a batch against the
// image's free blocks and directory room before anything is written.

#include <cstdint>
#include <string>
#include <vector>

#include "cbm/entry.h"
#include "write/writer_base.h"

namespace kelvane {

struct TDkPreparedFile {
  std::string CbmName;  // host form of the name
  Bytes RawName;        // the stored name bytes of a PC64 file; empty otherwise
  TDkCbmFileType FileType = cftPRG;
  Bytes Content;
};

struct TDkCbmSpaceSource {
  TDkCbmFileType FileType = cftPRG;
  std::int64_t ByteCount = 0;
};

struct TDkSpacePlan {
  int Blocks = 0;
  int DirSectors = 0;
  int Total = 0;
  int Free = 0;
};

// `file_name` is the file-name part of the dropped path.
TDkPreparedFile DkPrepareDroppedFile(const std::string& file_name, ByteView bytes);
TDkCbmFileType DkFileTypeForHostName(const std::string& file_name);
int DkBlocksForBytes(std::int64_t byte_count, TDkCbmFileType file_type);
TDkSpacePlan DkPlanSpace(const TDkCbmImageWriter& writer,
                         const std::vector<TDkCbmSpaceSource>& sources);
bool DkPlanFits(const TDkSpacePlan& plan);

}  // namespace kelvane
