#pragma once

// CMD FD2000/FD4000 disk images (D1M, D2M, D4M): user partitions laid end to end from byte 0,
// a system area on the last physical track, optionally one error byte per 256-byte block after
// everything. Partition starts and sizes count 512-byte units.
//
//   kind  image bytes  system area (unit)  with error bytes
//   D1M   829,440      $640                832,680
//   D2M   1,658,880    $C80                1,665,360
//   D4M   3,317,760    $1900               3,330,720
//
// System area, 256-byte blocks from its start:
//   BLOCK OFFSET SIZE DESCRIPTION
//   5     $E2    1    default partition number (repeated at $E3)
//   5     $F0    16   "CMD FD SERIES   " in ASCII
//   8-11         256  partition directory: 4 x 8 entries of 32 bytes; entry 0 is the system
//
// Partition directory entry:
//   OFFSET SIZE DESCRIPTION
//   2      1    type (0 none, 1 native, 2 1541, 3 1571, 4 1581, 5 1581 CP/M, 6 print buffer,
//               7 foreign, $FF system)
//   5      16   name, PETSCII padded with $A0
//   $15    3    start, big-endian, 512-byte units
//   $1D    3    size, big-endian, 512-byte units
//
// A 1541 or 1571 partition is a D64 or D71 followed by filler, a 1581 partition a D81, a native
// partition a DNP in every respect.

#include <memory>
#include <string>
#include <vector>

#include "cbm/image.h"

namespace kelvane {

enum TDkCmdPartitionType : std::uint8_t {
  cptNone = 0,
  cptNative = 1,
  cpt1541 = 2,
  cpt1571 = 3,
  cpt1581 = 4,
  cpt1581Cpm = 5,
  cptPrintBuffer = 6,
  cptForeign = 7,
  cptSystem = 0xFF,
};

inline constexpr int kCmdUnitBytes = 512;
inline constexpr int kCmdMaxPartitions = 31;
inline constexpr int kCmdNativeTrackUnits = 0x80;

// One of the three disk kinds.
struct TDkCmdKind {
  const char* Name = nullptr;  // "D1M", "D2M", "D4M"; null when the size fits none
  int SystemUnit = 0;          // where the system area starts; user partitions end there
  bool HasErrorInfo = false;
  int Blocks() const { return SystemUnit * 2 + (SystemUnit / 40); }
};

TDkCmdKind DkCmdSizeMatch(long long size);
// The kind by its name ("d2m" as well), for making a new disk; Name is null for another name.
TDkCmdKind DkCmdKindByName(const std::string& name);
bool DkCmdHasSignature(ByteView bytes);
std::string DkCmdSizesText();

struct TDkCmdPartition {
  int Number = 0;
  std::uint8_t Type = cptNone;
  Bytes NameBytes;        // 16 bytes
  std::size_t Start = 0;  // bytes
  std::size_t Size = 0;   // bytes
};

// The partition directory as far as it holds: entries that point outside the user area,
// overlap one listed before them or have a size their type cannot have are left out, each with
// a line in `Problems`, as are a missing signature and a default partition that is not there.
struct TDkCmdTable {
  TDkCmdKind Kind;
  std::vector<TDkCmdPartition> Partitions;
  int DefaultNumber = 0;  // as stored
  const TDkCmdPartition* Default() const;
  TDkStringList Problems;
};

TDkCmdTable DkCmdReadTable(ByteView bytes);

// The bytes of a partition's image as its own reader and writer take them (a 1541 partition's
// D64 without the filler after it); empty for the types that hold no CBM directory.
std::size_t DkCmdImageSize(const TDkCmdPartition& partition);

class TDkCmdImage : public TDkCbmImage {
 public:
  static std::unique_ptr<TDkCmdImage> Open(TDkImageBytes bytes, bool recover);

  // The default partition's geometry, at its place in the image.
  int MaxTrack() const override;
  int SectorsInTrack(int track) const override;
  int SectorOffset(int track, int sector) const override;
  std::string FormatName() const override { return kind_.Name; }
  kelvane::Bytes ReadFile(const TDkCbmEntry& entry) const override;
  const TDkCbmImage* PartitionImage(const TDkCbmEntry& entry) const override;

  const std::vector<TDkCmdPartition>& Partitions() const { return partitions_; }
  // 0 when no partition could be shown as the default one.
  int DefaultPartition() const { return default_number_; }
  // The partition's own format ("DNP", "D81", ...), empty when it holds no directory.
  std::string PartitionFormat(int number) const;

 private:
  using TDkCbmImage::TDkCbmImage;

  TDkCmdKind kind_;
  std::vector<TDkCmdPartition> partitions_;
  std::vector<std::unique_ptr<TDkCbmImage>> images_;  // parallel to partitions_; may hold null
  int default_number_ = 0;
  const TDkCbmImage* default_ = nullptr;
  int default_origin_ = 0;
};

}  // namespace kelvane
