#pragma once

// Which image format a file holds (signatures first, then exact sizes, then the name's
// extension), opening it with its reader, and the texts for files that fit no format. This and
// writer selection are the only places that know every format.

#include <memory>
#include <string>

#include "cbm/image.h"
#include "common/text.h"

namespace kelvane {

enum TDkCbmImageFormat : int {
  cifUnknown = 0,
  cifD64 = 1,
  cifD71 = 2,
  cifD81 = 3,
  cifD80 = 4,
  cifD82 = 5,
  cifDnp = 6,
  cifDfi = 7,
  cifG64 = 8,
  cifTap = 9,
  cifT64 = 10,
  cifPcSidecar = 11,
  cifLynx = 12,
  cifD1M = 13,  // CMD FD2000 DD disk
  cifD2M = 14,  // CMD FD2000 HD disk
  cifD4M = 15,  // CMD FD4000 ED disk
};

// "disk", "D64", ... "PcSidecar".
std::string DkImageFormatName(TDkCbmImageFormat format);

TDkCbmImageFormat DkDetectImageFormat(const std::string& file_name, ByteView first_bytes,
                                      long long size);
TDkCbmImageFormat DkDetectImageFormat(const std::string& file_name, long long size);

// D64 .. DFI and the CMD FD disks.
bool DkIsWritableFormat(TDkCbmImageFormat format);
// What DkOpenImage reads: the writable formats and the T64 and Lynx containers.
bool DkIsListableFormat(TDkCbmImageFormat format);
bool DkIsValidImageSize(const std::string& file_name, long long size);
bool DkIsSupportedImage(const std::string& file_name, ByteView first_bytes, long long size);
std::string DkSizeErrorText(const std::string& file_name, long long size);
// The size message of one format ("Unrecognized D71 size: ..."), the generic one for the others.
std::string DkFormatSizeErrorText(TDkCbmImageFormat format, long long size);

// Opens `bytes` with the reader of the detected format. The image belongs to the caller; bytes
// given as TDkImageBytes::Borrow are read where they lie and must outlive it.
std::unique_ptr<TDkCbmImage> DkOpenImage(TDkImageBytes bytes, const std::string& file_name,
                                         bool recover);

// Case-insensitive tests of the name's ending against the writable (.d64 .d71 .d81 .d80 .d82
// .dnp .dfi), GCR (.g64 .g71 .nib), read-only (those and .t64 .lnx) and known (all of them)
// extension lists.
bool DkHasWritableExtension(const std::string& file_name);
bool DkHasGcrExtension(const std::string& file_name);
bool DkHasReadOnlyExtension(const std::string& file_name);
bool DkHasKnownExtension(const std::string& file_name);

}  // namespace kelvane
