#pragma once

// Blank images of every writable format with fuzz input laid over their system area (header,
// BAM and first directory sector), for the targets that write.

#include <cstddef>
#include <cstdint>

#include "support/disk_builder.h"

namespace kelvane::testing {

struct WritableTarget {
  const char* name;
  Bytes (*blank)();
  std::size_t system_offset;
};

inline const WritableTarget kWritableTargets[] = {
    {"f.d64", [] { return BlankD64(); }, 357 * 256},      // 18/0
    {"f.d71", [] { return BlankD71(); }, 357 * 256},      // 18/0
    {"f.d81", [] { return BlankD81(); }, 39 * 40 * 256},  // 40/0
    {"f.d80", [] { return BlankD80(); }, 37 * 29 * 256},  // 38/0
    {"f.d82", [] { return BlankD82(); }, 37 * 29 * 256},  // 38/0
    {"f.dnp", [] { return BlankDnp(4); }, 0},
    {"f.dfi", [] { return BlankDfi(2); }, 0},
};

// The target's blank image with data[first..size) copied over it from its system offset.
inline Bytes DamagedImage(const WritableTarget& target, const std::uint8_t* data, std::size_t size,
                          std::size_t first) {
  Bytes image = target.blank();
  std::size_t at = target.system_offset;
  for (std::size_t i = first; i < size && at < image.size(); ++i) image[at++] = data[i];
  return image;
}

}  // namespace kelvane::testing
