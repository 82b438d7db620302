// NIB files to G64: one revolution of each listed track, found by repeating sync patterns.
#include <algorithm>
#include <array>
#include <cstring>

#include "common/format.h"
#include "formats/gcr.h"

namespace kelvane {

namespace {

constexpr int kNibHeaderSize = 256;
constexpr int kNibTrackSize = 8192;
constexpr int kNibTableEntries = 120;
constexpr int kNibTableStart = 16;
constexpr char kNibSignature[] = "MNIB-1541-RAW";
constexpr int kG64Slots = 84;
constexpr int kG64TablesEnd = 12 + 8 * kG64Slots;  // 684
constexpr int kCompareBytes = 7;

// Bytes per revolution in each speed zone.
constexpr std::array<int, 4> kZoneCapacity = {6250, 6666, 7142, 7692};

struct Slice {
  bool present = false;
  ByteView bytes;
  std::uint32_t zone = 0;
};

void PutLe16(Bytes& out, std::size_t at, int value) {
  out[at] = static_cast<std::uint8_t>(value & 0xFF);
  out[at + 1] = static_cast<std::uint8_t>((value >> 8) & 0xFF);
}

void PutLe32(Bytes& out, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i)
    out[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace

bool DkNibNextSync(ByteView data, int& position, int end) {
  const int size = static_cast<int>(data.size());
  for (int i = std::max(position, 0); i + 1 < end && i + 1 < size; ++i) {
    if ((data[static_cast<std::size_t>(i)] & 3) == 3 &&
        data[static_cast<std::size_t>(i) + 1] == 0xFF) {
      int at = i + 1;
      while (at < size && data[static_cast<std::size_t>(at)] == 0xFF) ++at;
      position = at;
      return position < end;
    }
  }
  position = end;
  return false;
}

TDkNibRevolution DkNibFindRevolution(ByteView data, int least_length) {
  const int end = static_cast<int>(data.size()) - kCompareBytes;
  int start = 0;
  for (;;) {
    int candidate = start + least_length;
    if (candidate >= end) return {};
    while (DkNibNextSync(data, candidate, end)) {
      // The track from `start` must repeat from `candidate`, sync by sync.
      int a = start;
      int b = candidate;
      bool match = true;
      for (;;) {  // both positions stay below `end`: a sync is only found there
        if (std::memcmp(data.data() + a, data.data() + b, kCompareBytes) != 0) {
          match = false;
          break;
        }
        if (!DkNibNextSync(data, a, end) || !DkNibNextSync(data, b, end)) break;
      }
      if (match) return {candidate - start, start};
    }
    if (!DkNibNextSync(data, start, end)) return {};
  }
}

Bytes DkNibToG64(ByteView bytes) {
  const int size = static_cast<int>(std::min<std::size_t>(bytes.size(), 0x7FFFFFFF));
  if (size < kNibHeaderSize) {
    throw EDkNibImage(
        Format("Truncated NIB image: %d bytes, the header alone is %d.", size, kNibHeaderSize));
  }
  if (std::memcmp(bytes.data(), kNibSignature, sizeof kNibSignature - 1) != 0) {
    throw EDkNibImage(Format("Not a NIB image: it does not start with '%s'.", kNibSignature));
  }
  int count = 0;
  while (count < kNibTableEntries &&
         bytes[static_cast<std::size_t>(kNibTableStart + 2 * count)] != 0) {
    ++count;
  }
  if (count == 0) throw EDkNibImage("This NIB image lists no tracks.");
  if (static_cast<long long>(size) <
      kNibHeaderSize + static_cast<long long>(kNibTrackSize) * count) {
    throw EDkNibImage(
        Format("Truncated NIB image: its track table lists %d tracks, the file holds %d.", count,
               (size - kNibHeaderSize) / kNibTrackSize));
  }

  std::array<Slice, kG64Slots> slices;
  int largest = 0;
  for (int k = 0; k < count; ++k) {
    const int slot = bytes[static_cast<std::size_t>(kNibTableStart + 2 * k)] - 2;
    if (slot < 0 || slot >= kG64Slots) continue;
    const std::uint32_t zone = bytes[static_cast<std::size_t>(kNibTableStart + 2 * k + 1)] & 3u;
    const ByteView track =
        bytes.subspan(static_cast<std::size_t>(kNibHeaderSize + kNibTrackSize * k), kNibTrackSize);
    const int capacity = kZoneCapacity[zone];
    const TDkNibRevolution revolution = DkNibFindRevolution(track, capacity * 95 / 100);
    Slice& slice = slices[static_cast<std::size_t>(slot)];
    slice.present = true;
    slice.zone = zone;
    slice.bytes = revolution.Start >= 0 ? track.subspan(static_cast<std::size_t>(revolution.Start),
                                                        static_cast<std::size_t>(revolution.Length))
                                        : track.first(static_cast<std::size_t>(capacity));
    // The G64's largest-length field must cover every track it holds, the cut ones included.
    largest = std::max(largest, static_cast<int>(slice.bytes.size()));
  }

  std::size_t total = kG64TablesEnd;
  for (const Slice& slice : slices) {
    if (slice.present) total += slice.bytes.size() + 2;
  }
  Bytes g64(total, 0);
  std::memcpy(g64.data(), "GCR-1541", 8);  // then version 0, already in place
  g64[9] = kG64Slots;
  PutLe16(g64, 10, largest);
  std::size_t position = kG64TablesEnd;
  for (int u = 0; u < kG64Slots; ++u) {
    const Slice& slice = slices[static_cast<std::size_t>(u)];
    PutLe32(g64, static_cast<std::size_t>(12 + 4 * kG64Slots + 4 * u),
            slice.present ? slice.zone : 0);
    if (!slice.present) continue;
    PutLe32(g64, static_cast<std::size_t>(12 + 4 * u), static_cast<std::uint32_t>(position));
    PutLe16(g64, position, static_cast<int>(slice.bytes.size()));
    std::copy(slice.bytes.begin(), slice.bytes.end(),
              g64.begin() + static_cast<std::ptrdiff_t>(position) + 2);
    position += slice.bytes.size() + 2;
  }
  return g64;
}

}  // namespace kelvane
