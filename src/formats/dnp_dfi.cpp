#include "formats/dnp_dfi.h"

#include <cstring>

#include "cbm/errors.h"
#include "formats/common.h"

namespace kelvane {

namespace {

constexpr std::size_t kCurrentBitmapStart = 544;
constexpr std::size_t kOldBitmapStart = 288;
constexpr int kBitmapBytesPerTrack = 32;
constexpr std::size_t kDfiBitmapStart = 0x1000;
constexpr char kDfiSignature[] = "DREAMLOAD FILE ARCHIVE";
constexpr std::size_t kDfiSignatureLength = sizeof kDfiSignature - 1;
constexpr std::uint8_t kDnpFormatByte = 0x48;

[[noreturn]] void ThrowSize(const char* format_name, long long size) {
  throw EDkCbmImageFormatError(Format("Unrecognized %s size: %lld bytes. Expected %s.", format_name,
                                      size, DkDnpSizesText().c_str()));
}

}  // namespace

TDkDnpSizeInfo DkDnpSizeMatch(long long size) {
  if (size < kDnpTrackBytes || size > static_cast<long long>(kDnpTrackBytes) * kDnpMaxTracks ||
      size % kDnpTrackBytes != 0) {
    return {};
  }
  return {true, static_cast<int>(size / kDnpTrackBytes)};
}

bool DkDnpSizeMatches(long long size) {
  return DkDnpSizeMatch(size).Matched;
}

std::string DkDnpSizesText() {
  return Format("a multiple of %d bytes, %d to %d tracks", kDnpTrackBytes, 1, kDnpMaxTracks);
}

bool DkDfiHasSignature(ByteView bytes) {
  return bytes.size() >= kDfiSignatureLength + 1 &&
         std::memcmp(bytes.data() + 1, kDfiSignature, kDfiSignatureLength) == 0;
}

bool DkDnpIsCurrentLayout(ByteView bytes) {
  return bytes.size() >= 768 && bytes[288] == 1 && bytes[289] == 1 && bytes[514] == 0x48 &&
         bytes[515] == 0xB7;
}

std::uint8_t DkDnpBitmapByte(ByteView bytes, int index) {
  if (index < 0 || index > kDnpBitmapMaxIndex) {
    throw EDkCbmImageFormatError(
        Format("DNP BAM bitmap index %d is outside 0..%d.", index, kDnpBitmapMaxIndex));
  }
  const std::size_t at = kOldBitmapStart + static_cast<std::size_t>(index);
  if (at >= bytes.size()) {
    throw EDkCbmImageFormatError(Format("DNP BAM bitmap index %d is outside the image.", index));
  }
  return bytes[at];
}

int DkDnpCountFree(ByteView all, int track_count) {
  int free_blocks = 0;
  if (DkDnpIsCurrentLayout(all)) {
    // Track 256 has no bitmap entry a drive uses, and the first 64 sectors of track 1 are the
    // system area, never free.
    const int tracks = std::min(track_count, 255);
    for (int track = 1; track <= tracks; ++track) {
      const std::size_t start =
          kCurrentBitmapStart + static_cast<std::size_t>(kBitmapBytesPerTrack * (track - 1));
      for (int i = track == 1 ? 8 : 0; i < kBitmapBytesPerTrack; ++i) {
        if (start + static_cast<std::size_t>(i) < all.size())
          free_blocks += DkBitCount(all[start + static_cast<std::size_t>(i)]);
      }
    }
  } else {
    for (int i = 0; i < kBitmapBytesPerTrack * track_count; ++i)
      free_blocks += DkBitCount(DkDnpBitmapByte(all, i));
  }
  return free_blocks;
}

int DkDfiCountFree(ByteView all, int track_count) {
  const std::size_t bitmap_bytes = static_cast<std::size_t>(kBitmapBytesPerTrack * track_count);
  if (all.size() < kDfiBitmapStart + bitmap_bytes) {
    throw EDkCbmImageFormatError(Format("DFI BAM: %d tracks do not fit the image.", track_count));
  }
  int used = 0;
  for (std::size_t i = 0; i < bitmap_bytes; ++i) used += DkBitCount(all[kDfiBitmapStart + i]);
  return 256 * track_count - used;
}

int TDkFlatImage::SectorsInTrack(int track) const {
  return (track >= 1 && track <= kDnpMaxTracks) ? 256 : 0;
}

int TDkFlatImage::SectorOffset(int track, int sector) const {
  return (track - 1) * kDnpTrackBytes + sector * kSectorSize;
}

void TDkFlatImage::CheckDirectoryTrack(ByteView header, const char* what) const {
  if (header[0] == 0 || header[0] > track_count_) {
    throw EDkCbmImageFormatError(Format("%s: first directory track %d out of range (1..%d).", what,
                                        header[0], track_count_));
  }
}

std::unique_ptr<TDkDnpImage> TDkDnpImage::Open(TDkImageBytes bytes, bool recover) {
  const long long size = static_cast<long long>(bytes.View().size());
  const TDkDnpSizeInfo info = DkDnpSizeMatch(size);
  if (!info.Matched) ThrowSize("DNP", size);

  std::unique_ptr<TDkDnpImage> image(new TDkDnpImage(std::move(bytes)));
  image->track_count_ = info.TrackCount;
  const kelvane::Bytes header = image->ReadSector(1, 1);
  image->dos_version_ = header[2];
  if (header[2] != kDnpFormatByte) {
    throw EDkCbmImageFormatError(
        Format("DNP header byte $02 is $%.2x, expected 'H' ($48).", header[2]));
  }
  image->SetDiskHeader(header, 4, 0x16);
  image->CheckDirectoryTrack(header, "DNP root directory");
  image->LoadDirectory(header[0], header[1], recover);

  const int free_blocks = DkDnpCountFree(image->bytes_, info.TrackCount);
  image->free_blocks_ = free_blocks;
  image->SetErrorInfo(false, 0);
  return image;
}

std::unique_ptr<TDkDfiImage> TDkDfiImage::Open(TDkImageBytes bytes, bool recover) {
  const long long size = static_cast<long long>(bytes.View().size());
  const TDkDnpSizeInfo info = DkDnpSizeMatch(size);
  if (!info.Matched) ThrowSize("DFI", size);
  if (!DkDfiHasSignature(bytes.View())) {
    throw EDkCbmImageFormatError("Not a DFI: no 'DREAMLOAD FILE ARCHIVE' at byte 1.");
  }

  std::unique_ptr<TDkDfiImage> image(new TDkDfiImage(std::move(bytes)));
  image->track_count_ = info.TrackCount;
  const kelvane::Bytes header = image->ReadSector(1, 1);
  image->dos_version_ = header[2];
  image->SetDiskHeader(header, 0x90, 0xA2);
  image->CheckDirectoryTrack(header, "DFI directory");
  image->LoadDirectory(header[0], header[1], recover);

  image->free_blocks_ = DkDfiCountFree(image->bytes_, info.TrackCount);
  image->SetErrorInfo(false, 0);
  return image;
}

}  // namespace kelvane
