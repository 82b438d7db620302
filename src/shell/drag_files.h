#pragma once

// The files a drag out of the preview offers: every selected entry read along its chain, folders
// for sub-directories and partitions with everything inside them, sibling names made unique and
// paths relative to the folder dropped into.

#include <string>
#include <string_view>
#include <vector>

#include "common/bytes.h"

namespace kelvane {

struct TKvDragFile {
  std::u16string Path;   // relative to the drop folder, "\" between folder names
  kelvane::Bytes Bytes;  // empty for a folder
  bool IsDirectory = false;
};
// A folder always comes before everything inside it.
using TKvDragFileArray = std::vector<TKvDragFile>;

// Relative paths of this many UTF-16 characters or more are left out, with all they hold.
inline constexpr std::size_t kKvLongestDragPath = 260;

// The drag list of the entries `indices` of the image in `data`; false when the bytes are not a
// supported image or the selection cannot be read (no drag). Items that fail to read are left
// out. Raises what the extraction raises for a looping directory and the unique-name search when
// it runs out of names.
bool BuildDragFiles(ByteView data, const std::string& detection_name,
                    const std::vector<int>& indices, TKvDragFileArray& files);

std::u16string KvUtf8ToUtf16(std::string_view text);

// A GUID's 36 characters without braces: hyphens at positions 9, 14, 19 and 24 (from 1),
// hexadecimal digits elsewhere. Transfer folders have such names.
bool KvIsGuidName(std::u16string_view name);

}  // namespace kelvane
