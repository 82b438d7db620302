#pragma once

// Finding files on a disk by name, as the drive finds them: a pattern of PETSCII bytes where "?"
// stands for any one character and "*" for the rest of the name, searched through the top
// directory and every partition and sub-directory below it.

#include <string>
#include <vector>

#include "cbm/image.h"

namespace kelvane {

class TDkNamePattern {
 public:
  // Host text: ASCII letters become CBM letters as host names do when files are added (either
  // case gives the unshifted letter); "?" and "*" are the wildcards.
  explicit TDkNamePattern(const std::string& text);
  // `name`: a name's bytes as stored; the name ends at its first $A0 or after 16 bytes. What
  // follows a "*" in the pattern is never looked at, as on the drive.
  bool Matches(ByteView name) const;

 private:
  Bytes bytes_;
};

struct TDkFindHit {
  std::vector<int> Path;  // the entry's index in the top directory, then in each folder below
  TDkCbmEntry Entry;
};

struct TDkFindQuery {
  TDkNamePattern Pattern{"*"};
  std::vector<TDkCbmFileType> Types;  // empty: every type
};

// Every entry of `image` (folders included) whose name matches, depth first in directory order.
// Folders that cannot be read add a line to `warnings` and are searched as far as they read.
std::vector<TDkFindHit> DkFindEntries(const TDkCbmImage& image, const TDkFindQuery& query,
                                      TDkStringList& warnings);

}  // namespace kelvane
