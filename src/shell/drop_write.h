#pragma once

// Writing dropped host files into a disk image: read the image, check and prepare the whole
// batch, add the files one by one in memory, write the new image beside the old one, read it back
// and verify it, and only then swap it in (keeping a backup until the swap has worked). The
// image file is never written into; it is only ever replaced whole.

#include <string>
#include <vector>

#include "cbm/entry.h"
#include "common/bytes.h"
#include "host/host_files.h"

namespace kelvane {

enum TKvDropError : int {
  deNone = 0,
  deReadOnlyFormat = 1,
  deNoSpace = 2,
  deNameTaken = 3,
  deImageInUse = 4,
  deNotWritable = 5,
  deFolder = 6,
  deUnreadable = 7,
  deWriteFailed = 8,
  deAccessDenied = 9,
};

struct TKvDropFile {
  std::string Path;     // as dropped
  std::string CbmName;  // host form of the CBM name chosen
  TDkCbmFileType FileType = cftPRG;
  bool Written = false;
  TKvDropError Code = deNone;
  std::string Message;
};

struct TKvDropResult {
  TKvDropError Code = deNone;  // for the drop as a whole
  std::string Message;
  std::vector<TKvDropFile> Files;  // in drop order
  int WrittenCount = 0;
};

// Suffixes of the files beside the image during a drop.
inline constexpr const char* kKvTempSuffix = ".kelvane.tmp";
inline constexpr const char* kKvBackupSuffix = ".kelvane.bak";
// Largest image file and largest dropped file.
inline constexpr std::uint64_t kKvMaxFileSize = 16 * 1024 * 1024;

std::string KvDropErrorText(TKvDropError code);

// Never raises: every failure ends in the result. `host` is the file layer to run on.
TKvDropResult KvWriteDroppedFiles(const std::string& image_path,
                                  const std::vector<std::string>& paths, HostFiles& host);

// The status text: the drop's message when it failed as a whole, else one group per code of the
// files not written ("A.PRG, B.PRG: <text>"), groups joined by two blanks; empty when every file
// was written.
std::string KvDropSummary(const TKvDropResult& result);

// The steps of the transaction, each usable on its own.
bool KvReadImageForWrite(HostFiles& host, const std::string& path, Bytes& bytes,
                         TKvDropError& code);
bool KvReadDroppedFile(HostFiles& host, const std::string& path, Bytes& bytes);
void KvWriteTempImage(HostFiles& host, const std::string& temp_path, const Bytes& bytes);
// Raises "the written image did not read back as written" on any difference.
bool KvVerifyTempImage(HostFiles& host, const std::string& temp_path, const std::string& image_path,
                       const Bytes& bytes, const TDkCbmEntryArray& entries,
                       const std::vector<Bytes>& contents);
bool KvSwapInTemp(HostFiles& host, const std::string& temp_path, const std::string& image_path,
                  std::string& leftover_path, std::uint32_t& error_code);

}  // namespace kelvane
