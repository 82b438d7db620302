#pragma once

// cc1541's listing of a disk, parsed: the peer tool's view that tests compare ours with.

#include <string>
#include <vector>

namespace kelvane::testing {

struct PeerEntry {
  int blocks;
  std::string name;
  std::string type;
  bool splat;
  bool locked;
};

struct PeerListing {
  std::string disk_name;
  std::string disk_id;
  std::vector<PeerEntry> entries;
  int free_blocks = -1;
};

std::string Upper(std::string text);

// cc1541 lists a disk as: `0 "NAME" ID`, then `BLOCKS "NAME"<hidden> <splat>TYP<lock>` per
// entry, then `N blocks free.`; other lines (its own messages) are passed over.
PeerListing ParseListing(const std::string& text);
PeerListing ReadListing(const std::string& path);

}  // namespace kelvane::testing
