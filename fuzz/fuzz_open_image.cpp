// Opening an image of one format (chosen at build time by KELVANE_FUZZ_FORMAT) and listing it.
//
// Images are large and their interesting bytes (header, BAM, directory) sit deep inside, so the
// input does not stand for the whole file: it is laid over a freshly formatted image starting at
// the format's system area, and byte 0 picks the file size variant and the open mode.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "cbm/listing.h"
#include "common/exception.h"
#include "registry/registry.h"
#include "support/disk_builder.h"

using namespace kelvane;
using namespace kelvane::testing;

namespace {

struct Target {
  const char* name;
  Bytes (*blank)(int variant);
  std::size_t system_offset;  // where the input is laid over the image
};

Bytes D64(int v) {
  static const int tracks[] = {35, 40, 42};
  return BlankD64(tracks[v % 3], (v / 3) % 2 == 1,
                  v % 3 == 1   ? ddvSpeedDOS40
                  : v % 3 == 2 ? ddvExtended42
                               : ddvStandard35);
}
Bytes D71(int v) {
  return BlankD71(v % 2 == 1);
}
Bytes D81(int v) {
  return BlankD81(v % 2 == 1);
}
Bytes D80(int v) {
  return BlankD80(v % 2 == 1);
}
Bytes D82(int v) {
  return BlankD82(v % 2 == 1);
}
Bytes Dnp(int v) {
  return BlankDnp(1 + v % 3, v % 2 == 0);
}
Bytes Dfi(int v) {
  return BlankDfi(1 + v % 2);
}

const Target kTargets[] = {
    {"fuzz.d64", D64, 357 * 256},      // 18/0
    {"fuzz.d71", D71, 357 * 256},      // 18/0
    {"fuzz.d81", D81, 39 * 40 * 256},  // 40/0
    {"fuzz.d80", D80, 37 * 29 * 256},  // 38/0
    {"fuzz.d82", D82, 37 * 29 * 256},  // 38/0
    {"fuzz.dnp", Dnp, 0},
    {"fuzz.dfi", Dfi, 0},
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const Target& target = kTargets[KELVANE_FUZZ_FORMAT];
  Bytes image = target.blank(data[0] & 0x3F);
  const bool recover = (data[0] & 0x40) != 0;
  // Bit 7 truncates the image by the next byte, so that every size check is reached too.
  std::size_t at = target.system_offset;
  std::size_t consumed = 1;
  if ((data[0] & 0x80) && size > 1) {
    image.resize(image.size() - std::min<std::size_t>(image.size(), data[1] * 257u));
    consumed = 2;
  }
  for (std::size_t i = consumed; i < size && at < image.size(); ++i) image[at++] = data[i];

  try {
    const auto opened = DkOpenImage(std::move(image), target.name, recover);
    std::uint8_t color = kListStartColor;
    for (const TDkCbmEntry& entry : opened->Entries()) {
      DkListBasicLine(entry.Blocks, DkCbmEntryLineBody(entry), color);
      try {
        opened->ReadFile(entry);
      } catch (const Exception&) {
      }
    }
    if (!recover && opened->RecoveryWarnings() != nullptr) std::abort();
  } catch (const Exception&) {
  }
  return 0;
}
