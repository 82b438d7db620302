#include "support/flat_disk.h"

#include <algorithm>
#include <stdexcept>

namespace kelvane::testing {

FlatImage::FlatImage(kelvane::Bytes bytes, int max_track, int sectors_per_track)
    : TDkCbmImage(std::move(bytes)), max_track_(max_track), sectors_per_track_(sectors_per_track) {}

int FlatImage::SectorsInTrack(int track) const {
  return (track >= 1 && track <= max_track_) ? sectors_per_track_ : 0;
}

int FlatImage::SectorOffset(int track, int sector) const {
  return ((track - 1) * sectors_per_track_ + sector) * kSectorSize;
}

FlatDisk::FlatDisk(int tracks, int sectors_per_track)
    : tracks_(tracks),
      sectors_per_track_(sectors_per_track),
      bytes_(static_cast<std::size_t>(tracks * sectors_per_track * kSectorSize), 0) {}

std::span<std::uint8_t> FlatDisk::Sector(int track, int sector) {
  if (track < 1 || track > tracks_ || sector < 0 || sector >= sectors_per_track_) {
    throw std::out_of_range("FlatDisk::Sector outside the disk");
  }
  const auto offset =
      static_cast<std::size_t>(((track - 1) * sectors_per_track_ + sector) * kSectorSize);
  return std::span<std::uint8_t>(bytes_).subspan(offset, kSectorSize);
}

void FlatDisk::Link(int track, int sector, int next_track, int next_sector) {
  auto data = Sector(track, sector);
  data[0] = static_cast<std::uint8_t>(next_track);
  data[1] = static_cast<std::uint8_t>(next_sector);
}

kelvane::Bytes PaddedName(const std::string& name) {
  kelvane::Bytes bytes(16, 0xA0);
  std::copy_n(name.begin(), std::min<std::size_t>(name.size(), 16), bytes.begin());
  return bytes;
}

void FlatDisk::PutEntry(int track, int sector, int index, const EntrySpec& entry) {
  auto slot = Sector(track, sector).subspan(static_cast<std::size_t>(index) * 32, 32);
  slot[2] = entry.type;
  slot[3] = static_cast<std::uint8_t>(entry.first_track);
  slot[4] = static_cast<std::uint8_t>(entry.first_sector);
  const kelvane::Bytes name = PaddedName(entry.name);
  std::copy(name.begin(), name.end(), slot.begin() + 5);
  slot[30] = static_cast<std::uint8_t>(entry.blocks & 0xFF);
  slot[31] = static_cast<std::uint8_t>(entry.blocks >> 8);
}

void FlatDisk::WriteFile(const SectorPath& path, std::span<const std::uint8_t> data) {
  const std::size_t needed = data.empty() ? 1 : (data.size() + 253) / 254;
  if (path.size() < needed) throw std::invalid_argument("FlatDisk::WriteFile: path too short");
  std::size_t pos = 0;
  for (std::size_t i = 0; i < needed; ++i) {
    auto sector = Sector(path[i].first, path[i].second);
    const std::size_t chunk = std::min<std::size_t>(254, data.size() - pos);
    std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(pos), chunk, sector.begin() + 2);
    pos += chunk;
    if (i + 1 < needed) {
      sector[0] = static_cast<std::uint8_t>(path[i + 1].first);
      sector[1] = static_cast<std::uint8_t>(path[i + 1].second);
    } else {
      sector[0] = 0;
      sector[1] = static_cast<std::uint8_t>(chunk + 1);
    }
  }
}

std::unique_ptr<FlatImage> FlatDisk::Open(int max_track) const {
  return std::make_unique<FlatImage>(bytes_, max_track > 0 ? max_track : tracks_,
                                     sectors_per_track_);
}

kelvane::Bytes PatternBytes(std::size_t length, std::uint32_t seed) {
  kelvane::Bytes bytes(length);
  std::uint32_t state = seed * 2654435761u + 1;
  for (auto& byte : bytes) {
    state = state * 1664525u + 1013904223u;
    byte = static_cast<std::uint8_t>(state >> 24);
  }
  return bytes;
}

}  // namespace kelvane::testing
