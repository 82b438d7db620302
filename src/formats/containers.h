#pragma once

// Containers of whole files, read-only: T64 tape images and Lynx archives. They have no sectors;
// each entry's bytes lie at one place in the file and are read from there.
//
// T64 (little-endian):
//   OFFSET SIZE DESCRIPTION
//   0      32   signature text beginning "C64" ("C64 tape image file", "C64S tape file", ...)
//   32     2    version (0x0100, 0x0101)
//   34     2    directory slots
//   36     2    used slots (0 in some files: the slots whose entry type is not 0 count)
//   40     24   tape name, padded with blanks
//   64     32*n slots:
//                 0      entry type (0 free, 1 file, 2 file with header, 3 snapshot, ...)
//                 1      file type as a 1541 lists it (0x82 PRG; 0x00 and 0x01 are taken as PRG)
//                 2      start address (the file's two load-address bytes)
//                 4      end address (0xC3C6 from a converter that set it for every file)
//                 8      offset of the data from the start of the file
//                 16     name, 16 PETSCII bytes padded with 0x20 or 0xA0
// A file is its start address followed by end - start data bytes where that fits before the next
// file's data (by offset) or the end of the T64; otherwise it runs to there.
//
// Lynx: a BASIC program (load address 0x0801), then lines ending in 0x0D: the directory's size in
// 254-byte blocks with a stamp containing "LYNX", the number of entries, and per entry its name
// (16 bytes padded with 0xA0), its length in blocks, its type letter (P, S, U, R; R adds a record
// length line) and the bytes used in its last block plus one (missing for the last entry in early
// archives: that file runs to the end). Numbers are text, with blanks and leading zeros allowed.
// The files follow the directory, each from a 254-byte block boundary, in directory order.

#include <memory>
#include <string>
#include <vector>

#include "cbm/errors.h"
#include "cbm/image.h"

namespace kelvane {

class EDkT64Image : public EDkCbmImageFormatError {
 public:
  using EDkCbmImageFormatError::EDkCbmImageFormatError;
};

class EDkLynxImage : public EDkCbmImageFormatError {
 public:
  using EDkCbmImageFormatError::EDkCbmImageFormatError;
};

// The base of both: entries point into the file by their Location.Index.
class TDkContainerImage : public TDkCbmImage {
 public:
  int MaxTrack() const override { return 0; }
  int SectorsInTrack(int) const override { return 0; }
  int SectorOffset(int, int) const override { return -1; }
  kelvane::Bytes ReadFile(const TDkCbmEntry& entry) const override;
  kelvane::Bytes LastLineBytes() const override;

 protected:
  explicit TDkContainerImage(TDkImageBytes bytes);

  // A file: `prefix` (a T64 file's load address) and then `length` bytes from `offset`.
  struct TSpan {
    std::size_t Offset = 0;
    std::size_t Length = 0;
    kelvane::Bytes Prefix;
  };
  void AddFile(ByteView name, std::uint8_t type_byte, int blocks, TSpan span);
  // Damage that leaves the rest readable: thrown as `Error`, or with `recover` kept as a warning.
  template <typename Error>
  void Damage(bool recover, const std::string& message) {
    if (!recover) throw Error(message);
    recovery_warnings_->push_back(message);
  }
  void SetHeader(ByteView name, const char* id);

  std::vector<TSpan> spans_;
  std::string last_line_;
};

class TDkT64Image final : public TDkContainerImage {
 public:
  // Throws EDkT64Image; with `recover`, damage past the header is listed as warnings instead.
  static std::unique_ptr<TDkT64Image> Open(TDkImageBytes bytes, bool recover);
  std::string FormatName() const override { return "T64"; }

 private:
  using TDkContainerImage::TDkContainerImage;
  void Load(bool recover);
};

class TDkLynxImage final : public TDkContainerImage {
 public:
  // Throws EDkLynxImage; with `recover`, damage past the signature is listed as warnings instead.
  static std::unique_ptr<TDkLynxImage> Open(TDkImageBytes bytes, bool recover);
  std::string FormatName() const override { return "Lynx"; }

 private:
  using TDkContainerImage::TDkContainerImage;
  void Load(bool recover);
};

// Content tests for detection: a T64's signature text (begins "C64", names a tape), a Lynx
// archive's BASIC program followed by a line with "LYNX".
bool DkT64HasSignature(ByteView first_bytes);
bool DkLynxHasSignature(ByteView first_bytes);

}  // namespace kelvane
