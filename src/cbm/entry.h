#pragma once

// Directory entries, file types, sector addressing and PETSCII name conversion: the vocabulary
// the whole disk library speaks.

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/bytes.h"

namespace kelvane {

// Every sector of every format is 256 bytes; a chained sector starts with a (track, sector) link.
inline constexpr int kSectorSize = 256;

// File type from the low three bits of the type byte. Ordinals are fixed.
enum TDkCbmFileType : int {
  cftDEL = 0,
  cftSEQ = 1,
  cftPRG = 2,
  cftUSR = 3,
  cftREL = 4,
  cftCBM = 5,
  cftDIR = 6,
};

enum TDkGeosKind : int {
  gkNone = 0,
  gkSequential = 1,
  gkVlir = 2,
};

// Where an entry lives: directory sector and slot 0..7 within it.
struct TDkCbmDirSlot {
  int Track = 0;
  int Sector = 0;
  int Index = 0;

  bool IsValid() const { return Track >= 1 && Sector >= 0 && Index >= 0; }
};

struct TDkCbmEntry {
  std::string Name;  // host display form of NameBytes
  Bytes NameBytes;   // the 16 raw name bytes, $A0 padding included
  TDkCbmFileType FileType = cftDEL;
  std::uint8_t RawType = 0;
  int FirstTrack = 0;
  int FirstSector = 0;
  int Blocks = 0;
  bool Locked = false;       // type bit 6
  bool Closed = false;       // type bit 7; an unclosed file lists with "*"
  bool ReplaceFlag = false;  // type bit 5
  bool Scratched = false;    // whole type byte 0
  int SideTrack = 0;         // REL only
  int SideSector = 0;        // REL only
  int RecordLength = 0;      // REL only
  TDkCbmDirSlot Location;
  TDkGeosKind GeosKind = gkNone;
  std::uint8_t GeosFileType = 0;  // slot byte 24, kept for every entry
  int GeosInfoTrack = 0;
  int GeosInfoSector = 0;
  std::uint8_t GeosStructure = 0;
  std::array<std::uint8_t, 5> GeosStamp{};  // year, month, day, hour, minute as stored
  // A row of a CMD partition directory listed beside the files: the partition's number (1..31)
  // and its type byte; 0 for a file.
  int Partition = 0;
  std::uint8_t PartitionType = 0;
};

using TDkCbmEntryArray = std::vector<TDkCbmEntry>;

// Reads one sector. Contract: returns exactly 256 bytes or throws. Walkers check the length.
using TDkCbmReadSectorFunc = std::function<Bytes(int track, int sector)>;

// The 32-byte directory slot. A directory sector holds eight of them, slot n at byte n * 32.
//
//   OFFSET SIZE DESCRIPTION
//   0      2    slot 0 only: link to the next directory sector (track, sector)
//   2      1    type byte: bits 0-2 file type, bit 5 replace, bit 6 locked, bit 7 closed
//   3      2    first data sector (track, sector)
//   5      16   file name, PETSCII, padded with $A0
//   21     2    REL: side-sector block; GEOS: info block (track, sector)
//   23     1    REL: record length; GEOS: structure (1 = VLIR)
//   24     1    GEOS file type (0 = not GEOS)
//   25     5    GEOS stamp: year, month, day, hour, minute
//   30     2    block count, little-endian
namespace dirslot {
inline constexpr int kSize = 32;
inline constexpr int kPerSector = 8;
inline constexpr int kType = 2;
inline constexpr int kFirstTrack = 3;
inline constexpr int kFirstSector = 4;
inline constexpr int kName = 5;
inline constexpr int kNameLength = 16;
inline constexpr int kSideTrack = 21;     // also GEOS info track
inline constexpr int kSideSector = 22;    // also GEOS info sector
inline constexpr int kRecordLength = 23;  // also GEOS structure
inline constexpr int kGeosFileType = 24;
inline constexpr int kGeosStamp = 25;
inline constexpr int kGeosStampLength = 5;
inline constexpr int kBlocks = 30;
}  // namespace dirslot

// Type byte AND 7 to a file type; 7 maps to cftDEL.
TDkCbmFileType DkCbmFileTypeFromByte(std::uint8_t type_bits);

// "DEL", "SEQ", ... "DIR"; "?" for an ordinal outside the enumeration.
std::string DkCbmFileTypeName(TDkCbmFileType type);
// The same text without building a string, for tight loops.
const char* DkCbmFileTypeChars(TDkCbmFileType type);

// The type column of a CMD partition row: "NAT", "1541", "1571", "1581", "CPM", "PRN", "FRN",
// "SYS"; "?" for a type byte no drive writes.
const char* DkCmdPartitionTypeChars(std::uint8_t type);
// The type column of any row: a partition's type, a file's type name.
const char* DkCbmEntryTypeChars(const TDkCbmEntry& entry);

// Highest file type a format holds natively, by format name (case-insensitive).
int DkCbmMaxFileType(const std::string& format_name);

// True when `type_value` is at most DkCbmMaxFileType(format_name).
bool DkCbmFileTypeAllowed(const std::string& format_name, std::uint8_t type_value);

// One printable host byte per PETSCII byte.
Bytes DkPetsciiToAscii(ByteView petscii);

// Host form of a name: the bytes before the first $A0, mapped, with trailing blanks and control
// characters trimmed.
std::string DkCbmNameToString(ByteView name);

// Builds an entry from a 32-byte directory slot found at `location`. No field is range-checked.
TDkCbmEntry DkCbmEntryFromSlot(ByteView slot, const TDkCbmDirSlot& location);

}  // namespace kelvane
