#pragma once

// New blank disks, formatted as their drive formats them: header, an empty BAM and an empty
// first directory sector, every other byte zero.

#include <string>

#include "registry/registry.h"

namespace kelvane {

struct TDkNewDisk {
  TDkCbmImageFormat Format = cifUnknown;
  int Tracks = 0;  // D64: 35, 40 or 42; DNP and DFI: 1..255; 0 elsewhere
  Bytes Name;      // 16 bytes, $A0-padded
  Bytes Id;        // 2 bytes
};

// Checks a "NAME,ID" text by the name rules (at most 16 characters, none a drive reserves; an id
// of two) and gives the padded bytes.
void DkParseDiskName(const std::string& text, Bytes& name, Bytes& id);

// Throws EDkCbmConstraintViolation for a format no blank is made of or a track count the format
// cannot have.
Bytes DkBlankImage(const TDkNewDisk& request);

}  // namespace kelvane
