#include "cbm/entry.h"

#include <algorithm>
#include <array>

#include "common/exception.h"
#include "common/format.h"
#include "common/text.h"

namespace kelvane {

TDkCbmFileType DkCbmFileTypeFromByte(std::uint8_t type_bits) {
  return type_bits <= cftDIR ? static_cast<TDkCbmFileType>(type_bits) : cftDEL;
}

const char* DkCbmFileTypeChars(TDkCbmFileType type) {
  static constexpr std::array<const char*, 7> kNames = {"DEL", "SEQ", "PRG", "USR",
                                                        "REL", "CBM", "DIR"};
  const int ordinal = static_cast<int>(type);
  if (ordinal < 0 || ordinal >= static_cast<int>(kNames.size())) return "?";
  return kNames[static_cast<std::size_t>(ordinal)];
}

const char* DkCmdPartitionTypeChars(std::uint8_t type) {
  static constexpr std::array<const char*, 8> kNames = {"?",    "NAT", "1541", "1571",
                                                        "1581", "CPM", "PRN",  "FRN"};
  if (type == 0xFF) return "SYS";
  return type < kNames.size() ? kNames[type] : "?";
}

const char* DkCbmEntryTypeChars(const TDkCbmEntry& entry) {
  return entry.Partition != 0 ? DkCmdPartitionTypeChars(entry.PartitionType)
                              : DkCbmFileTypeChars(entry.FileType);
}

std::string DkCbmFileTypeName(TDkCbmFileType type) {
  return DkCbmFileTypeChars(type);
}

int DkCbmMaxFileType(const std::string& format_name) {
  const std::string upper = DkAsciiUpper(format_name);
  if (upper == "D64" || upper == "D71" || upper == "G64" || upper == "D80" || upper == "D82") {
    return cftREL;
  }
  if (upper == "D81") return cftCBM;
  return cftDIR;  // DNP and every name not listed
}

bool DkCbmFileTypeAllowed(const std::string& format_name, std::uint8_t type_value) {
  return type_value <= DkCbmMaxFileType(format_name);
}

namespace {

std::uint8_t PetsciiToAsciiByte(std::uint8_t c) {
  if (c < 0x20) return '?';
  if (c <= 0x5F) return c;
  if (c == 0x60) return '-';
  if (c <= 0x7A) return static_cast<std::uint8_t>(c - 0x20);
  if (c <= 0x9F) return '?';
  if (c == 0xA0) return ' ';
  if (c <= 0xC0) return '?';
  if (c <= 0xDA) return static_cast<std::uint8_t>(c - 0x80);
  return '?';
}

}  // namespace

Bytes DkPetsciiToAscii(ByteView petscii) {
  Bytes out(petscii.size());
  std::transform(petscii.begin(), petscii.end(), out.begin(), PetsciiToAsciiByte);
  return out;
}

std::string DkCbmNameToString(ByteView name) {
  std::string text;
  for (const std::uint8_t b : name) {
    if (b == 0xA0) break;
    text += static_cast<char>(PetsciiToAsciiByte(b));
  }
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') text.pop_back();
  return text;
}

TDkCbmEntry DkCbmEntryFromSlot(ByteView slot, const TDkCbmDirSlot& location) {
  using namespace dirslot;
  if (slot.size() < static_cast<std::size_t>(kSize)) {
    throw Exception(Format("DkCbmEntryFromSlot: a directory slot is 32 bytes, got %d.",
                           static_cast<int>(slot.size())));
  }
  TDkCbmEntry entry;
  const std::uint8_t type = slot[kType];
  entry.RawType = type;
  entry.FileType = DkCbmFileTypeFromByte(type & 7);
  entry.ReplaceFlag = (type & 0x20) != 0;
  entry.Locked = (type & 0x40) != 0;
  entry.Closed = (type & 0x80) != 0;
  entry.Scratched = type == 0;
  entry.FirstTrack = slot[kFirstTrack];
  entry.FirstSector = slot[kFirstSector];
  entry.Blocks = Le16(slot, kBlocks);
  entry.NameBytes.assign(slot.begin() + kName, slot.begin() + kName + kNameLength);
  entry.Name = DkCbmNameToString(entry.NameBytes);
  entry.Location = location;
  entry.GeosFileType = slot[kGeosFileType];

  if (entry.FileType == cftREL) {
    entry.SideTrack = slot[kSideTrack];
    entry.SideSector = slot[kSideSector];
    entry.RecordLength = slot[kRecordLength];
  } else if (slot[kGeosFileType] != 0) {
    entry.GeosKind = slot[kRecordLength] == 1 ? gkVlir : gkSequential;
    entry.GeosInfoTrack = slot[kSideTrack];
    entry.GeosInfoSector = slot[kSideSector];
    entry.GeosStructure = slot[kRecordLength];
    std::copy_n(slot.begin() + kGeosStamp, kGeosStampLength, entry.GeosStamp.begin());
  }
  return entry;
}

}  // namespace kelvane
