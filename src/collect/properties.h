#pragma once

// What a file manager shows of a disk and indexes for search: its name and id, a one-line
// summary, and the names of every file on it, as text in the upper charset's Unicode characters.

#include <string>

#include "cbm/image.h"

namespace kelvane {

struct TDkImageProperties {
  std::string Title;     // the disk's name
  std::string Keywords;  // the disk's id
  std::string Comment;   // "D64, 12 files, 600 blocks free"
  std::string Contents;  // every entry's name and type, one per line, folders' entries included
  unsigned FileCount = 0;
};

// From the directory only; folders that cannot be read give what could be.
TDkImageProperties DkImageProperties(const TDkCbmImage& image);

}  // namespace kelvane
