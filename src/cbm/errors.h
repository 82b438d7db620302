#pragma once

#include <string>
#include <vector>

#include "cbm/d64_variant.h"
#include "common/exception.h"

namespace kelvane {

// Broken chains, bad links, sector addresses outside the image, sector readers that break
// their contract.
class EDkCbmMalformedDisk : public Exception {
 public:
  using Exception::Exception;
};

// An image whose size, signature or header does not fit its format.
class EDkCbmImageFormatError : public Exception {
 public:
  using Exception::Exception;
};

// D64 size and DOS-variant errors.
class EDkD64FormatError : public EDkCbmImageFormatError {
 public:
  using EDkCbmImageFormatError::EDkCbmImageFormatError;
};

// More than one D64 DOS variant fits the BAM; keeps the variants that matched, in test order.
class EDkAmbiguousD64Variant : public Exception {
 public:
  explicit EDkAmbiguousD64Variant(TDkD64DosVariantArray matches);
  const TDkD64DosVariantArray& Matches() const noexcept { return matches_; }

 private:
  TDkD64DosVariantArray matches_;
};

// A format that is recognised but has no reader (tape images, T64, PC64 files).
class EDkUnsupportedImageFormat : public Exception {
 public:
  using Exception::Exception;
};

}  // namespace kelvane
