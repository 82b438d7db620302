#pragma once

// A generated collection of disk images for `kelvane find`, with the generator's own record of
// what a search for "GIANA*" must report: images of every readable format spread over folders, a
// third of them in zip archives (some holding two images), some gzipped, some damaged, files
// that only look like images by their name, a damaged archive and one holding an oversized
// member. Images are written sparse, so thousands of them cost little disk.

#include <filesystem>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "common/bytes.h"

namespace kelvane::testing {

struct Collection {
  std::vector<std::string> hits;   // "WHERE<tab>INDEX" of every GIANA file, in find's order
  std::set<std::string> problems;  // every WHERE find must name on stderr
};

// A zip of the members (name, bytes), or with `gzip` the one member as a .gz file.
void WriteArchive(const std::string& path,
                  const std::vector<std::pair<std::string, Bytes>>& members, bool gzip);

// `count` images under `root` (given as the text find is given), 100 to a folder.
Collection MakeCollection(const std::string& root, int count);

}  // namespace kelvane::testing
