#include "support/gcr_builder.h"

#include <algorithm>
#include <cstring>

#include "formats/d64.h"
#include "support/disk_builder.h"

namespace kelvane::testing {

Bytes GcrEncode(ByteView bytes) {
  Bytes out;
  for (std::size_t i = 0; i + 4 <= bytes.size(); i += 4) {
    std::uint64_t bits = 0;
    for (std::size_t j = 0; j < 4; ++j) {
      bits = (bits << 10) | (std::uint64_t{kDkGcrEncode[bytes[i + j] >> 4]} << 5) |
             kDkGcrEncode[bytes[i + j] & 15];
    }
    for (int j = 4; j >= 0; --j) out.push_back(static_cast<std::uint8_t>(bits >> (8 * j)));
  }
  return out;
}

Bytes GcrSector(int track, int sector, ByteView data, std::uint8_t id1, std::uint8_t id2) {
  Bytes out(5, 0xFF);
  const std::uint8_t t = static_cast<std::uint8_t>(track);
  const std::uint8_t s = static_cast<std::uint8_t>(sector);
  const Bytes header = {0x08, static_cast<std::uint8_t>(s ^ t ^ id2 ^ id1), s, t, id2, id1, 0x0F,
                        0x0F};
  const Bytes header_gcr = GcrEncode(header);
  out.insert(out.end(), header_gcr.begin(), header_gcr.end());
  out.insert(out.end(), 9, 0x55);
  out.insert(out.end(), 5, 0xFF);
  Bytes block = {0x07};
  block.insert(block.end(), data.begin(), data.end());
  std::uint8_t checksum = 0;
  for (const std::uint8_t b : data) checksum ^= b;
  block.push_back(checksum);
  block.push_back(0);
  block.push_back(0);
  const Bytes block_gcr = GcrEncode(block);
  out.insert(out.end(), block_gcr.begin(), block_gcr.end());
  out.insert(out.end(), 8, 0x55);
  return out;
}

Bytes GcrTrack(int track, ByteView d64, int length) {
  Bytes out;
  const int sectors = Sectors1541(track);
  for (int s = 0; s < sectors; ++s) {
    const Bytes sector =
        GcrSector(track, s, d64.subspan(static_cast<std::size_t>(D64Offset(track, s)), 256));
    out.insert(out.end(), sector.begin(), sector.end());
  }
  if (static_cast<int>(out.size()) < length) out.resize(static_cast<std::size_t>(length), 0x55);
  return out;
}

std::vector<Bytes> GcrTracksOf(ByteView d64, int tracks) {
  std::vector<Bytes> out(static_cast<std::size_t>(tracks) + 1);
  for (int t = 1; t <= tracks; ++t) out[static_cast<std::size_t>(t)] = GcrTrack(t, d64, 7400);
  return out;
}

Bytes BuildG71(ByteView d71, const std::vector<TDkG64BadSector>& missing) {
  const std::size_t side_size = static_cast<std::size_t>(D64Offset(36, 0));
  // Slot 84 + 2 (t - 1) is the slot BuildG64 gives track t + 42.
  std::vector<Bytes> tracks(43 + 35);
  for (int side = 0; side < 2; ++side) {
    for (int t = 1; t <= 35; ++t) {
      Bytes& out = tracks[static_cast<std::size_t>(t + 42 * side)];
      for (int s = 0; s < Sectors1541(t); ++s) {
        const TDkG64BadSector here{t + 35 * side, s};
        if (std::find(missing.begin(), missing.end(), here) != missing.end()) continue;
        const Bytes sector = GcrSector(
            here.Track, s,
            d71.subspan(side * side_size + static_cast<std::size_t>(D64Offset(t, s)), 256));
        out.insert(out.end(), sector.begin(), sector.end());
      }
      out.resize(std::max<std::size_t>(out.size(), 7400), 0x55);
    }
  }
  return BuildG64(tracks, 168, "GCR-1571");
}

Bytes BuildG64(const std::vector<Bytes>& gcr_tracks, int slots, const char* signature) {
  Bytes file(static_cast<std::size_t>(12 + 8 * slots), 0);
  std::memcpy(file.data(), signature, 8);
  file[9] = static_cast<std::uint8_t>(slots);
  std::size_t largest = 0;
  for (std::size_t t = 1; t < gcr_tracks.size(); ++t) {
    const Bytes& data = gcr_tracks[t];
    const std::size_t slot = (t - 1) * 2;
    if (data.empty() || slot >= static_cast<std::size_t>(slots)) continue;
    largest = std::max(largest, data.size());
    const auto offset = static_cast<std::uint32_t>(file.size());
    for (int i = 0; i < 4; ++i)
      file[12 + 4 * slot + static_cast<std::size_t>(i)] =
          static_cast<std::uint8_t>(offset >> (8 * i));
    file.push_back(static_cast<std::uint8_t>(data.size() & 0xFF));
    file.push_back(static_cast<std::uint8_t>(data.size() >> 8));
    file.insert(file.end(), data.begin(), data.end());
  }
  file[10] = static_cast<std::uint8_t>(largest & 0xFF);
  file[11] = static_cast<std::uint8_t>(largest >> 8);
  return file;
}

Bytes BuildNib(const std::vector<std::pair<int, int>>& entries, const std::vector<Bytes>& data) {
  Bytes file(256, 0);
  std::memcpy(file.data(), "MNIB-1541-RAW", 13);
  for (std::size_t k = 0; k < entries.size() && k < 120; ++k) {
    file[16 + 2 * k] = static_cast<std::uint8_t>(entries[k].first);
    file[17 + 2 * k] = static_cast<std::uint8_t>(entries[k].second);
  }
  for (const Bytes& track : data) {
    Bytes block = track;
    block.resize(8192, 0);
    file.insert(file.end(), block.begin(), block.end());
  }
  return file;
}

namespace {

struct GcrStream {
  ByteView bytes;
  int start;
  int bits;
  int Bit(long long k) const {
    const long long m = k % bits;
    return (bytes[static_cast<std::size_t>(start + m / 8)] >> (7 - m % 8)) & 1;
  }
};

bool ReferenceDecode(const GcrStream& stream, long long position, int count, std::uint8_t* out) {
  for (int j = 0; j < count; ++j) {
    int value = 0;
    for (int b = 0; b < 10; ++b) value = (value << 1) | stream.Bit(position + 10LL * j + b);
    const std::uint8_t hi = DkGcrDecodeNibble(static_cast<std::uint8_t>(value >> 5));
    const std::uint8_t lo = DkGcrDecodeNibble(static_cast<std::uint8_t>(value & 31));
    if (hi == 255 || lo == 255) return false;
    out[j] = static_cast<std::uint8_t>((hi << 4) | lo);
  }
  return true;
}

}  // namespace

TDkG64TrackDecode ReferenceDecodeTrack(ByteView bytes, int start, int length, int track) {
  const int sectors = track >= 1 && track <= 42 ? Sectors1541(track) : 0;
  TDkG64TrackDecode result;
  result.Sectors.assign(static_cast<std::size_t>(sectors) * 256, 0);
  result.Found.assign(static_cast<std::size_t>(sectors), 0);
  if (sectors == 0 || length < 1 || start < 0 ||
      static_cast<std::size_t>(start) + static_cast<std::size_t>(length) > bytes.size()) {
    return result;
  }
  const GcrStream stream{bytes, start, 8 * length};
  std::vector<long long> syncs;
  int ones = 0;
  for (long long k = 0; k < 2LL * stream.bits; ++k) {
    if (stream.Bit(k)) {
      ++ones;
    } else {
      if (ones >= 10 && k >= stream.bits) syncs.push_back(k - stream.bits);
      ones = 0;
    }
  }
  for (std::size_t k = 0; k < syncs.size(); ++k) {
    std::uint8_t h[6];
    if (!ReferenceDecode(stream, syncs[k], 6, h)) continue;
    if (h[0] != 0x08 || h[1] != (h[2] ^ h[3] ^ h[4] ^ h[5]) || h[3] != track || h[2] >= sectors ||
        result.Found[h[2]] || syncs.size() < 2) {
      continue;
    }
    std::uint8_t d[258];
    if (!ReferenceDecode(stream, syncs[(k + 1) % syncs.size()], 258, d) || d[0] != 0x07) continue;
    std::uint8_t x = 0;
    for (int i = 1; i <= 256; ++i) x ^= d[i];
    if (x != d[257]) continue;
    std::copy(d + 1, d + 257, result.Sectors.begin() + h[2] * 256);
    result.Found[h[2]] = 1;
  }
  return result;
}

}  // namespace kelvane::testing
