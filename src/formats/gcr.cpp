#include "formats/gcr.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "common/format.h"
#include "common/text.h"
#include "formats/d64.h"

namespace kelvane {

const std::uint8_t kDkGcrEncode[16] = {0x0A, 0x0B, 0x12, 0x13, 0x0E, 0x0F, 0x16, 0x17,
                                       0x09, 0x19, 0x1A, 0x1B, 0x0D, 0x1D, 0x1E, 0x15};

namespace {

constexpr int kG64HeaderSize = 12;
constexpr char kG64Signature1541[] = "GCR-1541";
constexpr char kG64Signature1571[] = "GCR-1571";
constexpr int kMaxTrack = 42;
constexpr int kSlotsPerSide = 84;  // a G71's second side starts at this slot
constexpr int kStandardTracks = 35;
constexpr int kSyncOnes = 10;
constexpr int kHeaderBytes = 6;
constexpr int kDataBlockBytes = 258;  // 07, 256 data bytes, checksum

constexpr std::array<std::uint8_t, 32> kGcrDecode = [] {
  std::array<std::uint8_t, 32> table{};
  table.fill(255);
  const std::uint8_t encode[16] = {0x0A, 0x0B, 0x12, 0x13, 0x0E, 0x0F, 0x16, 0x17,
                                   0x09, 0x19, 0x1A, 0x1B, 0x0D, 0x1D, 0x1E, 0x15};
  for (std::uint8_t nibble = 0; nibble < 16; ++nibble) table[encode[nibble]] = nibble;
  return table;
}();

// Ten GCR bits to a byte; 0x100 when either five-bit half is not a valid code.
constexpr std::array<std::uint16_t, 1024> kGcrDecode10 = [] {
  std::array<std::uint16_t, 1024> table{};
  for (int v = 0; v < 1024; ++v) {
    const std::uint8_t hi = kGcrDecode[static_cast<std::size_t>(v >> 5)];
    const std::uint8_t lo = kGcrDecode[static_cast<std::size_t>(v & 31)];
    table[static_cast<std::size_t>(v)] =
        (hi == 255 || lo == 255) ? 0x100 : static_cast<std::uint16_t>((hi << 4) | lo);
  }
  return table;
}();

// Sync search one byte at a time. State: the run of 1 bits before the byte, capped at 10. For
// each state and byte: the bit positions (bit 7 = first bit) of 0 bits that end a run of at least
// ten 1 bits, and the run after the byte.
struct SyncStep {
  std::uint8_t positions;
  std::uint8_t run_after;
};

constexpr std::array<std::array<SyncStep, 256>, kSyncOnes + 1> kSyncTable = [] {
  std::array<std::array<SyncStep, 256>, kSyncOnes + 1> table{};
  for (int run_before = 0; run_before <= kSyncOnes; ++run_before) {
    for (int byte = 0; byte < 256; ++byte) {
      int run = run_before;
      std::uint8_t positions = 0;
      for (int bit = 7; bit >= 0; --bit) {
        if ((byte >> bit) & 1) {
          run = std::min(run + 1, kSyncOnes);
        } else {
          if (run >= kSyncOnes) positions |= static_cast<std::uint8_t>(1 << bit);
          run = 0;
        }
      }
      table[static_cast<std::size_t>(run_before)][static_cast<std::size_t>(byte)] = {
          positions, static_cast<std::uint8_t>(run)};
    }
  }
  return table;
}();

// Positions (bit index in the track, in order) of the first bit after every sync: a 0 bit that
// follows at least ten 1 bits of the circular stream.
std::vector<int> FindSyncs(ByteView track) {
  // The run of 1 bits that wraps from the end of the track into its start.
  int run = 0;
  for (std::size_t i = track.size(); i-- > 0 && run < kSyncOnes;) {
    const std::uint8_t byte = track[i];
    if (byte == 0xFF) {
      run += 8;
      continue;
    }
    run += std::countr_one(byte);
    break;
  }
  run = std::min(run, kSyncOnes);

  std::vector<int> syncs;
  for (std::size_t i = 0; i < track.size(); ++i) {
    const SyncStep step = kSyncTable[static_cast<std::size_t>(run)][track[i]];
    for (std::uint8_t positions = step.positions; positions != 0;) {
      const int bit = 7 - std::countl_zero(positions);  // highest set bit is the earliest
      syncs.push_back(static_cast<int>(i) * 8 + (7 - bit));
      positions = static_cast<std::uint8_t>(positions & ~(1u << bit));
    }
    run = step.run_after;
  }
  return syncs;
}

// Decodes `count` bytes from bit `position` of a buffer that continues the circular track far
// enough to read past its end without wrapping; false on an invalid code.
bool DecodeAt(const Bytes& extended, int position, int count, std::uint8_t* out) {
  std::size_t bit = static_cast<std::size_t>(position);
  for (int j = 0; j < count; ++j, bit += 10) {
    const std::size_t at = bit >> 3;
    const std::uint32_t window = (std::uint32_t{extended[at]} << 16) |
                                 (std::uint32_t{extended[at + 1]} << 8) | extended[at + 2];
    const std::uint16_t value = kGcrDecode10[(window >> (14 - (bit & 7))) & 0x3FF];
    if (value > 0xFF) return false;
    out[j] = static_cast<std::uint8_t>(value);
  }
  return true;
}

void ThrowG64(const std::string& message) {
  throw EDkG64Image(message);
}

std::int64_t Le32(ByteView bytes, std::size_t at) {
  return static_cast<std::int64_t>(bytes[at]) | (static_cast<std::int64_t>(bytes[at + 1]) << 8) |
         (static_cast<std::int64_t>(bytes[at + 2]) << 16) |
         (static_cast<std::int64_t>(bytes[at + 3]) << 24);
}

}  // namespace

std::uint8_t DkGcrDecodeNibble(std::uint8_t code) {
  return code < 32 ? kGcrDecode[code] : 255;
}

int DkG64SectorsPerTrack(int track) {
  return DkD64Geometry().SectorsInTrack(track);
}

int DkG64SectorOffset(int track, int sector) {
  // The offset of a track just past the last one (track 43) is the size of a 42-track image.
  const int before = DkD64Geometry().SectorCount(std::clamp(track - 1, 0, kMaxTrack));
  return (before + sector) * kSectorSize;
}

TDkG64Image TDkG64Image::Parse(ByteView bytes) {
  const int size = static_cast<int>(std::min<std::size_t>(bytes.size(), 0x7FFFFFFF));
  if (bytes.size() < kG64HeaderSize) {
    ThrowG64(Format("Truncated G64 image: %d bytes, header alone is %d.", size, kG64HeaderSize));
  }
  TDkG64Image image;
  image.signature_.assign(reinterpret_cast<const char*>(bytes.data()), 8);
  if (image.signature_ != kG64Signature1541 && image.signature_ != kG64Signature1571) {
    ThrowG64(Format("Unrecognised G64 signature '%s'. Expected '%s' or '%s'.",
                    image.signature_.c_str(), kG64Signature1541, kG64Signature1571));
  }
  image.version_ = bytes[8];
  if (image.version_ != 0) ThrowG64(Format("Unsupported G64 version %d.", image.version_));
  const int slots = bytes[9];
  image.slot_count_ = slots;
  image.max_track_length_ = Le16(bytes, 10);
  if (kG64HeaderSize + 8 * slots > size) {
    ThrowG64("G64 truncated: track + speed tables would run past end of file.");
  }
  image.tracks_.reserve(static_cast<std::size_t>(slots));
  for (int i = 0; i < slots; ++i) {
    TDkG64Track track;
    track.SlotIndex = i;
    track.Label = Format("%d.%d", i / 2 + 1, i % 2 == 1 ? 5 : 0);
    const auto offset = static_cast<std::int32_t>(
        static_cast<std::uint32_t>(Le32(bytes, static_cast<std::size_t>(kG64HeaderSize + 4 * i))));
    const std::int64_t speed =
        Le32(bytes, static_cast<std::size_t>(kG64HeaderSize + 4 * slots + 4 * i));
    track.Speed = speed < 4 ? static_cast<int>(speed) : -1;
    if (offset != 0) {
      if (offset < 0 || static_cast<std::int64_t>(offset) + 2 > size) {
        ThrowG64(Format("G64 track %d offset %x out of range (file is %d bytes).", i,
                        static_cast<unsigned>(offset), size));
      }
      const int length = Le16(bytes, static_cast<std::size_t>(offset));
      if (length > image.max_track_length_) {
        ThrowG64(Format("G64 track %d: declared length %d exceeds max %d.", i, length,
                        image.max_track_length_));
      }
      if (static_cast<std::int64_t>(offset) + 2 + length > size) {
        ThrowG64(Format("G64 track %d: data runs past end of file.", i));
      }
      track.DataOffset = offset;
      track.Length = length;
    }
    image.tracks_.push_back(std::move(track));
  }
  image.bytes_.assign(bytes.begin(), bytes.end());
  return image;
}

const char* DkGcrDecodedExtension(bool double_sided) {
  return double_sided ? ".d71" : ".d64";
}

TDkG64TrackDecode DkGcrDecodeTrack(ByteView bytes, int start, int length, int track,
                                   int header_track) {
  if (header_track == 0) header_track = track;
  const int sectors = DkG64SectorsPerTrack(track);
  TDkG64TrackDecode result;
  result.Sectors.assign(static_cast<std::size_t>(sectors) * kSectorSize, 0);
  result.Found.assign(static_cast<std::size_t>(sectors), 0);
  if (sectors == 0 || length < 1 || start < 0 ||
      !RangeInside(bytes.size(), static_cast<std::size_t>(start),
                   static_cast<std::size_t>(length))) {
    return result;
  }
  const ByteView data =
      bytes.subspan(static_cast<std::size_t>(start), static_cast<std::size_t>(length));
  const std::vector<int> syncs = FindSyncs(data);
  if (syncs.size() < 2) return result;  // a header needs a second sync for its data block

  // The track repeated far enough that a data block starting at its last bit can be read
  // straight on (258 bytes of GCR are 323 bytes), plus room for the three-byte window.
  Bytes extended;
  const std::size_t needed = data.size() + 330;
  extended.reserve(needed + data.size());
  while (extended.size() < needed) extended.insert(extended.end(), data.begin(), data.end());

  std::uint8_t header[kHeaderBytes];
  std::uint8_t block[kDataBlockBytes];
  for (std::size_t k = 0; k < syncs.size(); ++k) {
    if (!DecodeAt(extended, syncs[k], kHeaderBytes, header)) continue;
    const int sector = header[2];
    if (header[0] != 0x08 || header[1] != (header[2] ^ header[3] ^ header[4] ^ header[5]) ||
        header[3] != header_track || sector >= sectors ||
        result.Found[static_cast<std::size_t>(sector)]) {
      continue;
    }
    const int data_sync = syncs[(k + 1) % syncs.size()];
    if (!DecodeAt(extended, data_sync, kDataBlockBytes, block) || block[0] != 0x07) continue;
    std::uint8_t checksum = 0;
    for (int i = 1; i <= 256; ++i) checksum ^= block[i];
    if (checksum != block[257]) continue;
    std::memcpy(result.Sectors.data() + static_cast<std::size_t>(sector) * kSectorSize, block + 1,
                kSectorSize);
    result.Found[static_cast<std::size_t>(sector)] = 1;
  }
  return result;
}

namespace {

// The full track `track` (1-based) of side `side`, decoded; an empty slot gives no sectors.
TDkG64TrackDecode DecodeSlot(const TDkG64Image& image, int side, int track) {
  const int slot = side * kSlotsPerSide + (track - 1) * 2;
  if (slot < image.TrackSlotCount() &&
      image.Tracks()[static_cast<std::size_t>(slot)].DataOffset != 0) {
    const TDkG64Track& record = image.Tracks()[static_cast<std::size_t>(slot)];
    return DkGcrDecodeTrack(image.FileBytes(), record.DataOffset + 2, record.Length, track,
                            track + side * kStandardTracks);
  }
  return DkGcrDecodeTrack(ByteView(), 0, 0, track);
}

// Both sides of a G71 as the 70 tracks of a D71: side two after side one's 35 tracks.
TDkG64Sectors DecodeBothSides(const TDkG64Image& image) {
  TDkG64Sectors sectors;
  sectors.DoubleSided = true;
  sectors.TrackCount = 2 * kStandardTracks;
  const int side_size = DkG64SectorOffset(kStandardTracks + 1, 0);
  sectors.ImageBytes.assign(static_cast<std::size_t>(2 * side_size), 0);
  for (int side = 0; side < 2; ++side) {
    for (int track = 1; track <= kStandardTracks; ++track) {
      const TDkG64TrackDecode result = DecodeSlot(image, side, track);
      std::copy(result.Sectors.begin(), result.Sectors.end(),
                sectors.ImageBytes.begin() + side * side_size + DkG64SectorOffset(track, 0));
      for (std::size_t s = 0; s < result.Found.size(); ++s) {
        if (!result.Found[s]) {
          sectors.BadSectors.push_back({track + side * kStandardTracks, static_cast<int>(s)});
        }
      }
    }
  }
  return sectors;
}

}  // namespace

TDkG64Sectors DkG64DecodeSectors(const TDkG64Image& image) {
  if (image.Signature() == kG64Signature1571 && image.TrackSlotCount() > kSlotsPerSide) {
    return DecodeBothSides(image);
  }
  std::vector<TDkG64TrackDecode> decoded(kMaxTrack + 1);
  int last_track = kStandardTracks;
  for (int track = 1; track <= kMaxTrack; ++track) {
    TDkG64TrackDecode& result = decoded[static_cast<std::size_t>(track)];
    result = DecodeSlot(image, 0, track);
    if (track > kStandardTracks &&
        std::find(result.Found.begin(), result.Found.end(), 1) != result.Found.end()) {
      last_track = track;
    }
  }

  TDkG64Sectors sectors;
  sectors.TrackCount = last_track;
  sectors.ImageBytes.assign(static_cast<std::size_t>(DkG64SectorOffset(last_track + 1, 0)), 0);
  for (int track = 1; track <= last_track; ++track) {
    const TDkG64TrackDecode& result = decoded[static_cast<std::size_t>(track)];
    std::copy(result.Sectors.begin(), result.Sectors.end(),
              sectors.ImageBytes.begin() + DkG64SectorOffset(track, 0));
    for (std::size_t s = 0; s < result.Found.size(); ++s) {
      if (!result.Found[s]) sectors.BadSectors.push_back({track, static_cast<int>(s)});
    }
  }
  return sectors;
}

TDkGcrConversion DkG64ToD64(ByteView bytes) {
  TDkG64Sectors sectors = DkG64DecodeSectors(TDkG64Image::Parse(bytes));
  return {std::move(sectors.ImageBytes), static_cast<int>(sectors.BadSectors.size()),
          sectors.DoubleSided};
}

TDkGcrConversion DkGcrImageToD64(ByteView bytes, const std::string& extension) {
  if (DkEndsWithNoCase(extension, ".nib")) return DkG64ToD64(DkNibToG64(bytes));
  return DkG64ToD64(bytes);
}

}  // namespace kelvane
