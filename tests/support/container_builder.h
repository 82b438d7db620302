#pragma once

// Test-side T64 tapes and Lynx archives, written from the formats' public descriptions (not from
// the readers): the files, and the knobs for the variants found in circulation.

#include <cstdint>
#include <string>
#include <vector>

#include "common/bytes.h"

namespace kelvane::testing {

struct T64File {
  std::string name;               // PETSCII, padded with blanks to 16
  std::uint8_t file_type = 0x82;  // as a 1541 lists it; 0x00 and 0x01 mean PRG
  std::uint16_t start = 0x0801;
  Bytes data;  // without the two load-address bytes
  std::uint8_t entry_type = 1;
};

struct T64Options {
  std::string signature = "C64 tape image file";
  std::string tape_name = "TEST TAPE";
  int slots = -1;              // directory slots; -1: as many as files
  int used = -1;               // the header's used count; -1: the number of files
  bool converter_end = false;  // every end address 0xC3C6
  bool data_reversed = false;  // the last slot's data first in the file
  std::size_t gap = 0;         // zero bytes after each file's data: its end address ends it
};

Bytes BuildT64(const std::vector<T64File>& files, const T64Options& options = {});

struct LynxFile {
  std::string name;  // PETSCII, padded with 0xA0 to 16
  char type = 'P';   // P, S, U or R
  Bytes data;        // the whole file, load address included
};

struct LynxOptions {
  std::string stamp = "*LYNX XV  BY WILL CORLEY";
  bool omit_last_size = false;  // as early Lynx versions wrote the last entry
  int claimed_entries = -1;     // -1: the number of files
  bool bare_signature = false;  // no return after the BASIC program, no blank before the size
  // The text of the BASIC line before the directory: SYS 2061.
  std::string basic_text =
      "\x9e"
      "2061";
};

Bytes BuildLynx(const std::vector<LynxFile>& files, const LynxOptions& options = {});

}  // namespace kelvane::testing
