#include "formats/cmd.h"

#include <array>
#include <cstring>

#include "cbm/errors.h"
#include "common/format.h"
#include "common/text.h"
#include "formats/d64.h"
#include "formats/d71_d81.h"
#include "formats/dnp_dfi.h"

namespace kelvane {

namespace {

constexpr std::array<TDkCmdKind, 3> kKinds = {{
    {"D1M", 0x640, false},
    {"D2M", 0xC80, false},
    {"D4M", 0x1900, false},
}};

constexpr std::size_t kBlock = kSectorSize;
constexpr std::size_t kSignatureBlock = 5;
constexpr std::size_t kDefaultOffset = 0xE2;
constexpr std::size_t kSignatureOffset = 0xF0;
constexpr char kSignature[] = "CMD FD SERIES   ";
constexpr std::size_t kDirectoryBlock = 8;
constexpr std::size_t kDirectoryBlocks = 4;
constexpr std::size_t kEntrySize = 32;
constexpr std::size_t kEntryType = 2;
constexpr std::size_t kEntryName = 5;
constexpr std::size_t kEntryStart = 0x15;
constexpr std::size_t kEntrySize24 = 0x1D;

constexpr std::size_t kD64Bytes = 683 * kBlock;
constexpr std::size_t kD71Bytes = 1366 * kBlock;
constexpr std::size_t kD81Bytes = 3200 * kBlock;

std::size_t SystemStart(const TDkCmdKind& kind) {
  return static_cast<std::size_t>(kind.SystemUnit) * kCmdUnitBytes;
}

std::size_t Be24(ByteView bytes, std::size_t at) {
  return (std::size_t{bytes[at]} << 16) | (std::size_t{bytes[at + 1]} << 8) | bytes[at + 2];
}

// The units a partition of `type` may have; 0 for any size.
std::size_t FixedUnits(std::uint8_t type) {
  switch (type) {
    case cpt1541:
      return 0x156;
    case cpt1571:
      return 0x2AC;
    case cpt1581:
    case cpt1581Cpm:
      return 0x640;
    default:
      return 0;
  }
}

bool SizeFits(std::uint8_t type, std::size_t units) {
  if (type == cptNative) {
    return units >= kCmdNativeTrackUnits && units % kCmdNativeTrackUnits == 0 &&
           units / kCmdNativeTrackUnits <= 255;
  }
  const std::size_t fixed = FixedUnits(type);
  return fixed != 0 ? units == fixed : units > 0;
}

std::string Quoted(const TDkCmdPartition& partition) {
  return Format("%d \"%s\"", partition.Number, DkCbmNameToString(partition.NameBytes).c_str());
}

std::unique_ptr<TDkCbmImage> OpenPartition(ByteView bytes, const TDkCmdPartition& partition,
                                           bool recover) {
  const std::size_t size = DkCmdImageSize(partition);
  if (size == 0) return nullptr;
  TDkImageBytes inner = TDkImageBytes::Borrow(bytes.subspan(partition.Start, size));
  switch (partition.Type) {
    case cptNative:
      return TDkDnpImage::Open(std::move(inner), recover);
    case cpt1541:
      return TDkD64Image::Open(std::move(inner), recover);
    case cpt1571:
      return TDkD71Image::Open(std::move(inner), recover);
    default:
      return TDkD81Image::Open(std::move(inner), recover);
  }
}

}  // namespace

TDkCmdKind DkCmdSizeMatch(long long size) {
  for (TDkCmdKind kind : kKinds) {
    const long long plain = static_cast<long long>(kind.Blocks()) * kSectorSize;
    if (size == plain) return kind;
    if (size == plain + kind.Blocks()) {
      kind.HasErrorInfo = true;
      return kind;
    }
  }
  return {};
}

TDkCmdKind DkCmdKindByName(const std::string& name) {
  for (const TDkCmdKind& kind : kKinds) {
    if (DkAsciiUpper(name) == kind.Name) return kind;
  }
  return {};
}

bool DkCmdHasSignature(ByteView bytes) {
  const TDkCmdKind kind = DkCmdSizeMatch(static_cast<long long>(bytes.size()));
  if (kind.Name == nullptr) return false;
  const std::size_t at = SystemStart(kind) + kSignatureBlock * kBlock + kSignatureOffset;
  return std::memcmp(bytes.data() + at, kSignature, sizeof kSignature - 1) == 0;
}

std::string DkCmdSizesText() {
  std::string text;
  for (const TDkCmdKind& kind : kKinds) {
    const int plain = kind.Blocks() * kSectorSize;
    text += Format("%s%s %d or %d bytes", text.empty() ? "" : ", ", kind.Name, plain,
                   plain + kind.Blocks());
  }
  return text + " (the second with error bytes)";
}

std::size_t DkCmdImageSize(const TDkCmdPartition& partition) {
  switch (partition.Type) {
    case cptNative:
      return partition.Size;
    case cpt1541:
      return kD64Bytes;
    case cpt1571:
      return kD71Bytes;
    case cpt1581:
      return kD81Bytes;
    default:
      return 0;
  }
}

const TDkCmdPartition* TDkCmdTable::Default() const {
  for (const TDkCmdPartition& partition : Partitions) {
    if (partition.Number == DefaultNumber) return &partition;
  }
  return nullptr;
}

TDkCmdTable DkCmdReadTable(ByteView bytes) {
  TDkCmdTable table;
  table.Kind = DkCmdSizeMatch(static_cast<long long>(bytes.size()));
  if (table.Kind.Name == nullptr) {
    throw EDkCbmImageFormatError(Format("Unrecognized CMD FD size: %lld bytes. Expected %s.",
                                        static_cast<long long>(bytes.size()),
                                        DkCmdSizesText().c_str()));
  }
  const std::size_t system = SystemStart(table.Kind);
  if (!DkCmdHasSignature(bytes)) {
    table.Problems.push_back("No \"CMD FD SERIES\" signature in the system area.");
  }
  table.DefaultNumber = bytes[system + kSignatureBlock * kBlock + kDefaultOffset];

  const std::size_t user_units = static_cast<std::size_t>(table.Kind.SystemUnit);
  const std::size_t directory = system + kDirectoryBlock * kBlock;
  for (int number = 1; number <= kCmdMaxPartitions; ++number) {
    const std::size_t at = directory + static_cast<std::size_t>(number) * kEntrySize;
    static_assert(kDirectoryBlocks * kBlock / kEntrySize == kCmdMaxPartitions + 1);
    TDkCmdPartition partition;
    partition.Number = number;
    partition.Type = bytes[at + kEntryType];
    if (partition.Type == cptNone) continue;
    partition.NameBytes.assign(bytes.begin() + static_cast<std::ptrdiff_t>(at + kEntryName),
                               bytes.begin() + static_cast<std::ptrdiff_t>(at + kEntryName + 16));
    const std::size_t start = Be24(bytes, at + kEntryStart);
    const std::size_t units = Be24(bytes, at + kEntrySize24);
    std::string problem;
    if (partition.Type > cptForeign) {
      problem = Format("has the unknown type $%.2X", partition.Type);
    } else if (!SizeFits(partition.Type, units)) {
      problem = Format("has %d units, which a %s partition cannot have", static_cast<int>(units),
                       DkCmdPartitionTypeChars(partition.Type));
    } else if (start + units > user_units) {
      problem = Format("lies outside the partition area (units $%x-$%x, the area ends at $%x)",
                       static_cast<unsigned>(start), static_cast<unsigned>(start + units),
                       static_cast<unsigned>(user_units));
    } else {
      for (const TDkCmdPartition& other : table.Partitions) {
        const std::size_t other_start = other.Start / kCmdUnitBytes;
        const std::size_t other_end = other_start + other.Size / kCmdUnitBytes;
        if (start < other_end && other_start < start + units) {
          problem = Format("overlaps partition %s", Quoted(other).c_str());
          break;
        }
      }
    }
    partition.Start = start * kCmdUnitBytes;
    partition.Size = units * kCmdUnitBytes;
    if (!problem.empty()) {
      table.Problems.push_back(
          Format("Partition %s %s; it is left out.", Quoted(partition).c_str(), problem.c_str()));
      continue;
    }
    table.Partitions.push_back(std::move(partition));
  }
  if (table.Default() == nullptr) {
    table.Problems.push_back(
        Format("The default partition %d is not in the partition directory.", table.DefaultNumber));
  }
  return table;
}

std::unique_ptr<TDkCmdImage> TDkCmdImage::Open(TDkImageBytes bytes, bool recover) {
  TDkCmdTable table = DkCmdReadTable(bytes.View());
  if (!recover && !table.Problems.empty()) throw EDkCbmMalformedDisk(table.Problems.front());

  std::unique_ptr<TDkCmdImage> image(new TDkCmdImage(std::move(bytes)));
  image->kind_ = table.Kind;
  image->SetSectorDataSize(static_cast<std::size_t>(table.Kind.Blocks()) * kSectorSize);
  image->partitions_ = std::move(table.Partitions);
  TDkStringList warnings = std::move(table.Problems);
  for (const TDkCmdPartition& partition : image->partitions_) {
    std::unique_ptr<TDkCbmImage> inner;
    try {
      inner = OpenPartition(image->bytes_, partition, recover);
    } catch (const Exception& error) {
      if (!recover) throw;
      warnings.push_back(
          Format("Partition %s: %s", Quoted(partition).c_str(), error.Message().c_str()));
    }
    if (inner != nullptr && inner->RecoveryWarnings() != nullptr) {
      for (const std::string& warning : *inner->RecoveryWarnings())
        warnings.push_back(Format("Partition %s: %s", Quoted(partition).c_str(), warning.c_str()));
    }
    image->images_.push_back(std::move(inner));
  }
  // The default partition is the one LOAD"$" lists; when it cannot be shown, the first that can.
  for (std::size_t i = 0; i < image->images_.size(); ++i) {
    if (image->images_[i] == nullptr) continue;
    if (image->default_ == nullptr || image->partitions_[i].Number == table.DefaultNumber) {
      image->default_ = image->images_[i].get();
      image->default_number_ = image->partitions_[i].Number;
      image->default_origin_ = static_cast<int>(image->partitions_[i].Start);
    }
  }

  if (const TDkCbmImage* shown = image->default_) {
    image->track_count_ = shown->TrackCount();
    image->disk_name_ = shown->DiskName();
    image->disk_id_ = shown->DiskId();
    image->disk_name_bytes_ = shown->DiskNameBytes();
    image->disk_id_bytes_ = shown->DiskIdBytes();
    image->dos_version_ = shown->DosVersion();
    image->free_blocks_ = shown->FreeBlocks();
    image->entries_ = shown->Entries();
    image->dir_track_ = shown->DirTrack();
    image->dir_sector_ = shown->DirSector();
  } else {
    image->disk_name_bytes_.assign(16, 0xA0);
    image->disk_id_bytes_.assign(5, 0xA0);
  }
  for (const TDkCmdPartition& partition : image->partitions_) {
    TDkCbmEntry row;
    row.NameBytes = partition.NameBytes;
    row.Name = DkCbmNameToString(partition.NameBytes);
    row.FileType = cftCBM;
    row.RawType = 0x85;
    row.Closed = true;
    row.Blocks = static_cast<int>(partition.Size / kSectorSize);
    row.Partition = partition.Number;
    row.PartitionType = partition.Type;
    image->entries_.push_back(std::move(row));
  }
  if (recover) image->recovery_warnings_ = std::make_unique<TDkStringList>(std::move(warnings));
  image->SetErrorInfo(image->kind_.HasErrorInfo, image->kind_.Blocks());
  return image;
}

int TDkCmdImage::MaxTrack() const {
  return default_ != nullptr ? default_->MaxTrack() : 0;
}

int TDkCmdImage::SectorsInTrack(int track) const {
  return default_ != nullptr ? default_->SectorsInTrack(track) : 0;
}

int TDkCmdImage::SectorOffset(int track, int sector) const {
  return default_origin_ + default_->SectorOffset(track, sector);
}

kelvane::Bytes TDkCmdImage::ReadFile(const TDkCbmEntry& entry) const {
  if (entry.Partition != 0 || default_ == nullptr) {
    throw Exception(Format("%s is a partition, not a file.", entry.Name.c_str()));
  }
  return default_->ReadFile(entry);
}

const TDkCbmImage* TDkCmdImage::PartitionImage(const TDkCbmEntry& entry) const {
  for (std::size_t i = 0; i < partitions_.size(); ++i) {
    if (entry.Partition != 0 && partitions_[i].Number == entry.Partition) return images_[i].get();
  }
  return nullptr;
}

std::string TDkCmdImage::PartitionFormat(int number) const {
  for (std::size_t i = 0; i < partitions_.size(); ++i) {
    if (partitions_[i].Number == number && images_[i] != nullptr) return images_[i]->FormatName();
  }
  return {};
}

}  // namespace kelvane
