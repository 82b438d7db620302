#pragma once

// PC64 files (P00..P99, S00.., U00.., R00..): one Commodore file on the host with its real CBM
// name and type. Errors are returned as text, never thrown: a file that is not a valid sidecar
// is simply an ordinary host file to the caller.
//
//   OFFSET SIZE DESCRIPTION
//   0      8    "C64File" and a 00 byte
//   8      16   CBM name, PETSCII, ended early by 00 or A0
//   24     1    not read
//   25     1    record length (REL files)
//   26     rest the file's contents

#include <string>

#include "cbm/entry.h"

namespace kelvane {

struct TDkPcSidecar {
  TDkCbmFileType FileType = cftDEL;
  Bytes NameBytes;  // the 16 name bytes as in the file
  std::string Name;
  std::uint8_t RecordLength = 0;
  Bytes Data;
};

inline constexpr int kDkPcSidecarHeaderSize = 26;

// The extension check; empty text on success. `file_type` is set once a type letter is accepted.
std::string DkPcSidecarType(const std::string& path, TDkCbmFileType& file_type);
// Header check and fields, then the extension check; empty text on success.
std::string DkPcSidecarParse(const std::string& path, ByteView bytes, TDkPcSidecar& sidecar);
// What the drop side calls: false for anything that is not a usable sidecar (including a name
// that is empty up to its first 00 or A0).
bool DkPcSidecarRead(const std::string& path, ByteView bytes, Bytes& name_bytes,
                     TDkCbmFileType& file_type, Bytes& data);

}  // namespace kelvane
