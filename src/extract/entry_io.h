#pragma once

// Turning selected directory entries into host files and folders: file bytes along their chains,
// safe host names, and sub-directories and partitions walked depth first. Also the text path that
// names an entry of an image ("image::7").

#include <string>
#include <vector>

#include "cbm/image.h"

namespace kelvane {

struct TDkDiskEntryRead {
  std::string Name;      // host file or folder name
  kelvane::Bytes Bytes;  // contents; empty for a folder
  std::string Error;     // empty when the item was read
  bool IsDirectory = false;
  int Parent = -1;  // index of the folder item it belongs to; -1 for a selected item
};
using TDkDiskEntryReadArray = std::vector<TDkDiskEntryRead>;

// A name that is safe as a host file name: only letters, digits and " .-_()+" kept, trimmed,
// "extracted" when nothing is left, the type's extension appended; names a host would treat
// specially (".", "..", a trailing point or blank, device names such as CON or LPT1) get a safe
// form.
std::string DkHostFileName(const std::string& name, TDkCbmFileType file_type);

// `name` made unique among `taken` (ignoring case): "GAME.prg" becomes "GAME (1).prg", counting
// up from `first_number` for at most 999 tries, then "No available filename found within 999
// attempts.".
std::string DkUniqueFileName(const std::vector<std::string>& taken, const std::string& name,
                             int first_number);

std::string MakeEntryPath(const std::string& image_path, int index);
bool ParseEntryPath(const std::string& path, std::string& image_path, int& index);
// Reads every selected entry of the image's top directory (and with `recurse`, everything below
// folders). Whole-selection failures give false and `error`; per-item failures set the item's
// Error.
bool ReadSelection(const std::vector<std::string>& entry_paths, const TDkCbmImage& image,
                   bool recurse, TDkDiskEntryReadArray& reads, std::string& error);

}  // namespace kelvane
