#include "registry/registry.h"

#include <array>
#include <cstring>

#include "cbm/errors.h"
#include "common/format.h"
#include "formats/cmd.h"
#include "formats/common.h"
#include "formats/containers.h"
#include "formats/d64.h"
#include "formats/d71_d81.h"
#include "formats/d80_d82.h"
#include "formats/dnp_dfi.h"

namespace kelvane {

namespace {

constexpr std::array<const char*, 10> kWritableExtensions = {
    ".d64", ".d71", ".d81", ".d80", ".d82", ".dnp", ".dfi", ".d1m", ".d2m", ".d4m"};
constexpr std::array<const char*, 3> kGcrExtensions = {".g64", ".g71", ".nib"};
constexpr std::array<const char*, 2> kContainerExtensions = {".t64", ".lnx"};

// Largest NIB file offered for preview: a header and 84 half-track slots of 8 KiB.
constexpr long long kMaxNibSize = 983296;

bool BeginsWith(ByteView bytes, const char* text) {
  const std::size_t length = std::strlen(text);
  return bytes.size() >= length && std::memcmp(bytes.data(), text, length) == 0;
}

template <std::size_t N>
bool EndsWithAny(const std::string& name, const std::array<const char*, N>& list) {
  for (const char* extension : list) {
    if (DkEndsWithNoCase(name, extension)) return true;
  }
  return false;
}

TDkCbmImageFormat CmdFormat(const TDkCmdKind& kind) {
  if (kind.Name == nullptr) return cifUnknown;
  const std::string name = kind.Name;
  return name == "D1M" ? cifD1M : name == "D2M" ? cifD2M : cifD4M;
}

std::string PairText(int sectors) {
  return DkSizePairText(sectors * kSectorSize, sectors * (kSectorSize + 1));
}

}  // namespace

std::string DkImageFormatName(TDkCbmImageFormat format) {
  static constexpr std::array<const char*, 16> kNames = {
      "disk", "D64", "D71", "D81",       "D80",  "D82", "DNP", "DFI",
      "G64",  "Tap", "T64", "PcSidecar", "Lynx", "D1M", "D2M", "D4M"};
  const int ordinal = static_cast<int>(format);
  if (ordinal < 0 || ordinal >= static_cast<int>(kNames.size())) return "disk";
  return kNames[static_cast<std::size_t>(ordinal)];
}

TDkCbmImageFormat DkDetectImageFormat(const std::string& file_name, ByteView first_bytes,
                                      long long size) {
  if (BeginsWith(first_bytes, "GCR-1541") || BeginsWith(first_bytes, "GCR-1571")) return cifG64;
  if (DkDfiHasSignature(first_bytes)) return cifDfi;
  if (BeginsWith(first_bytes, "C64-TAPE-RAW") || BeginsWith(first_bytes, "C16-TAPE-RAW")) {
    return cifTap;
  }
  if (DkT64HasSignature(first_bytes)) return cifT64;
  if (DkLynxHasSignature(first_bytes)) return cifLynx;
  if (BeginsWith(first_bytes, "C64File") && first_bytes.size() >= 8 && first_bytes[7] == 0) {
    return cifPcSidecar;
  }
  // A D1M is as large as an 81-track D81: the system area's signature tells them apart.
  if (const TDkCmdKind kind = DkCmdSizeMatch(size); kind.Name != nullptr) {
    const bool named = DkEndsWithNoCase(file_name, ".d1m") || DkEndsWithNoCase(file_name, ".d2m") ||
                       DkEndsWithNoCase(file_name, ".d4m");
    if (named ||
        (static_cast<long long>(first_bytes.size()) == size && DkCmdHasSignature(first_bytes))) {
      return CmdFormat(kind);
    }
  }
  // A 3-track DNP is as large as a 40-track D64: named .dnp, it is the DNP.
  if (DkEndsWithNoCase(file_name, ".dnp") && DkDnpSizeMatches(size)) return cifDnp;
  if (DkD64SizeMatches(size)) return cifD64;
  if (DkD71SizeMatches(size)) return cifD71;
  if (DkD81SizeMatches(size)) return cifD81;
  if (DkD80SizeMatches(size)) return cifD80;
  if (DkD82SizeMatches(size)) return cifD82;

  static constexpr std::array<std::pair<const char*, TDkCbmImageFormat>, 11> kByExtension = {{
      {".d1m", cifD1M},
      {".d2m", cifD2M},
      {".d4m", cifD4M},
      {".d64", cifD64},
      {".d41", cifD64},
      {".d71", cifD71},
      {".d81", cifD81},
      {".d80", cifD80},
      {".d82", cifD82},
      {".dnp", cifDnp},
      {".dfi", cifDfi},
  }};
  for (const auto& [extension, format] : kByExtension) {
    if (DkEndsWithNoCase(file_name, extension)) return format;
  }
  return cifUnknown;
}

TDkCbmImageFormat DkDetectImageFormat(const std::string& file_name, long long size) {
  return DkDetectImageFormat(file_name, ByteView(), size);
}

bool DkIsWritableFormat(TDkCbmImageFormat format) {
  return (format >= cifD64 && format <= cifDfi) || (format >= cifD1M && format <= cifD4M);
}

bool DkIsListableFormat(TDkCbmImageFormat format) {
  return DkIsWritableFormat(format) || format == cifT64 || format == cifLynx;
}

bool DkIsValidImageSize(const std::string& file_name, long long size) {
  switch (DkDetectImageFormat(file_name, size)) {
    case cifD64:
      return DkD64SizeMatches(size);
    case cifD71:
      return DkD71SizeMatches(size);
    case cifD81:
      return DkD81SizeMatches(size);
    case cifD80:
      return DkD80SizeMatches(size);
    case cifD82:
      return DkD82SizeMatches(size);
    case cifDnp:
    case cifDfi:
      return DkDnpSizeMatches(size);
    case cifD1M:
    case cifD2M:
    case cifD4M:
      return DkCmdSizeMatch(size).Name != nullptr;
    default:
      return false;
  }
}

bool DkIsSupportedImage(const std::string& file_name, ByteView first_bytes, long long size) {
  switch (DkDetectImageFormat(file_name, first_bytes, size)) {
    case cifG64:
    case cifTap:
    case cifT64:
    case cifLynx:
    case cifPcSidecar:
      return true;
    default:
      break;
  }
  if (DkEndsWithNoCase(file_name, ".nib")) return size <= kMaxNibSize;
  return DkIsValidImageSize(file_name, size);
}

std::string DkFormatSizeErrorText(TDkCbmImageFormat format, long long size) {
  std::string expected;
  switch (format) {
    case cifD64:
      expected = DkD64SizesText();
      break;
    case cifD71:
      expected = PairText(1366);
      break;
    case cifD81:
      expected = PairText(3200);
      break;
    case cifD80:
      expected = PairText(2083);
      break;
    case cifD82:
      expected = PairText(4166);
      break;
    case cifDnp:
    case cifDfi:
      expected = DkDnpSizesText();
      break;
    case cifD1M:
    case cifD2M:
    case cifD4M:
      expected = DkCmdSizesText();
      break;
    default:
      return Format("Unrecognized disk-image size: %lld bytes.", size);
  }
  return Format("Unrecognized %s size: %lld bytes. Expected %s.", DkImageFormatName(format).c_str(),
                size, expected.c_str());
}

std::string DkSizeErrorText(const std::string& file_name, long long size) {
  return DkFormatSizeErrorText(DkDetectImageFormat(file_name, size), size);
}

std::unique_ptr<TDkCbmImage> DkOpenImage(TDkImageBytes bytes, const std::string& file_name,
                                         bool recover) {
  const long long size = static_cast<long long>(bytes.View().size());
  const TDkCbmImageFormat format = DkDetectImageFormat(file_name, bytes.View(), size);
  switch (format) {
    case cifD64:
      return TDkD64Image::Open(std::move(bytes), recover);
    case cifD71:
      return TDkD71Image::Open(std::move(bytes), recover);
    case cifD81:
      return TDkD81Image::Open(std::move(bytes), recover);
    case cifD80:
      return TDkD80Image::Open(std::move(bytes), recover);
    case cifD82:
      return TDkD82Image::Open(std::move(bytes), recover);
    case cifDnp:
      return TDkDnpImage::Open(std::move(bytes), recover);
    case cifDfi:
      return TDkDfiImage::Open(std::move(bytes), recover);
    case cifT64:
      return TDkT64Image::Open(std::move(bytes), recover);
    case cifLynx:
      return TDkLynxImage::Open(std::move(bytes), recover);
    case cifD1M:
    case cifD2M:
    case cifD4M:
      return TDkCmdImage::Open(std::move(bytes), recover);
    case cifUnknown:
      throw EDkCbmImageFormatError(DkSizeErrorText(file_name, size));
    default:
      throw EDkUnsupportedImageFormat(
          Format("Image format %s is not supported.", DkImageFormatName(format).c_str()));
  }
}

bool DkHasWritableExtension(const std::string& file_name) {
  return EndsWithAny(file_name, kWritableExtensions);
}

bool DkHasGcrExtension(const std::string& file_name) {
  return EndsWithAny(file_name, kGcrExtensions);
}

bool DkHasReadOnlyExtension(const std::string& file_name) {
  return DkHasGcrExtension(file_name) || EndsWithAny(file_name, kContainerExtensions);
}

bool DkHasKnownExtension(const std::string& file_name) {
  return DkHasWritableExtension(file_name) || DkHasReadOnlyExtension(file_name);
}

}  // namespace kelvane
