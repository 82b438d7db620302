#include "extract/entry_io.h"

#include <algorithm>
#include <cctype>
#include <set>

#include "cbm/chain.h"
#include "common/exception.h"
#include "common/format.h"
#include "common/text.h"
#include "registry/registry.h"
#include "write/names.h"

namespace kelvane {

namespace {

constexpr const char* kSeparator = "::";

bool IsImagePath(const std::string& path) {
  const std::size_t cut = path.find(kSeparator);
  const std::string host = cut == std::string::npos ? path : path.substr(0, cut);
  return DkHasKnownExtension(host);
}

bool ParseNumber(const std::string& text, int& value) {
  if (text.empty() || text.size() > 9) return false;
  value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  return true;
}

bool IsReservedDeviceName(std::string stem) {
  stem = DkAsciiUpper(stem);
  if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL") return true;
  return stem.size() == 4 && (stem.rfind("COM", 0) == 0 || stem.rfind("LPT", 0) == 0) &&
         stem[3] >= '1' && stem[3] <= '9';
}

// The directory of a sub-directory or partition: its first block is a header whose link names
// the first directory sector.
TDkCbmEntryArray ListFolder(const TDkCbmImage& image, const TDkCbmEntry& entry) {
  const Bytes header = image.ReadSector(entry.FirstTrack, entry.FirstSector);
  return DkCbmParseDirectory(header[0], header[1], image.SectorReader());
}

void ReadEntryInto(const TDkCbmImage& image, const TDkCbmEntry& entry, bool recurse,
                   std::size_t item, TDkDiskEntryReadArray& reads, std::set<std::string>& visited) {
  const bool folder = recurse && (entry.FileType == cftCBM || entry.FileType == cftDIR);
  reads[item].Name = DkHostFileName(entry.Name, entry.FileType);
  if (!folder) {
    reads[item].Bytes = image.ReadFile(entry);
    return;
  }
  reads[item].IsDirectory = true;
  // A CMD partition is an image of its own: its folder holds that image's top directory.
  const TDkCbmImage* partition = image.PartitionImage(entry);
  const TDkCbmImage& inner = partition != nullptr ? *partition : image;
  if (partition == nullptr && entry.Partition != 0) return;  // no directory to show
  const std::string key = partition != nullptr
                              ? Format("P%d", entry.Partition)
                              : Format("%p %d/%d", static_cast<const void*>(&image),
                                       entry.FirstTrack, entry.FirstSector);
  if (!visited.insert(key).second) {
    std::string name = entry.Name;
    while (!name.empty() && name.back() == ' ') name.pop_back();
    throw Exception(Format("%s: this directory loops back into itself.", name.c_str()));
  }
  const TDkCbmEntryArray children =
      partition != nullptr ? partition->Entries() : ListFolder(image, entry);
  for (const TDkCbmEntry& child : children) {
    reads.push_back(TDkDiskEntryRead{});
    const std::size_t child_item = reads.size() - 1;
    reads[child_item].Parent = static_cast<int>(item);
    ReadEntryInto(inner, child, recurse, child_item, reads, visited);
  }
}

}  // namespace

std::string DkHostFileName(const std::string& name, TDkCbmFileType file_type) {
  std::string host;
  for (const char c : name) {
    const bool kept =
        std::isalnum(static_cast<unsigned char>(c)) != 0 && static_cast<unsigned char>(c) < 128;
    host += (kept || std::string(" .-_()+").find(c) != std::string::npos) ? c : '_';
  }
  const auto is_blank = [](char c) { return static_cast<unsigned char>(c) < 33; };
  while (!host.empty() && is_blank(host.back())) host.pop_back();
  host.erase(host.begin(), std::find_if_not(host.begin(), host.end(), is_blank));
  if (host.empty()) host = "extracted";
  const std::string extension = DkCbmFileTypeExtension(file_type);
  if (!extension.empty() && !DkEndsWithNoCase(host, extension)) host += extension;

  // Names a host file system treats specially never reach it as such: "." and ".." would name
  // the folder itself or its parent, a trailing point is dropped by Windows, and device names
  // open the device instead of a file.
  if (host.back() == '.' || host.back() == ' ') host += '_';
  if (IsReservedDeviceName(host.substr(0, host.find('.')))) host = "_" + host;
  return host;
}

std::string DkUniqueFileName(const std::vector<std::string>& taken, const std::string& name,
                             int first_number) {
  const std::size_t dot = name.rfind('.');
  const std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
  const std::string extension = dot == std::string::npos ? std::string() : name.substr(dot);
  for (int n = first_number; n <= first_number + 998; ++n) {
    const std::string candidate = Format("%s (%d)%s", stem.c_str(), n, extension.c_str());
    const std::string upper = DkAsciiUpper(candidate);
    if (std::none_of(taken.begin(), taken.end(),
                     [&](const std::string& other) { return DkAsciiUpper(other) == upper; }))
      return candidate;
  }
  throw Exception("No available filename found within 999 attempts.");
}

std::string MakeEntryPath(const std::string& image_path, int index) {
  return image_path + kSeparator + std::to_string(index);
}

bool ParseEntryPath(const std::string& path, std::string& image_path, int& index) {
  image_path.clear();
  index = -1;
  const std::size_t cut = path.rfind(kSeparator);
  if (cut == std::string::npos || cut == 0) return false;
  const std::string image = path.substr(0, cut);
  int value = 0;
  if (!IsImagePath(image) || !ParseNumber(path.substr(cut + 2), value)) return false;
  image_path = image;
  index = value;
  return true;
}

bool ReadSelection(const std::vector<std::string>& entry_paths, const TDkCbmImage& image,
                   bool recurse, TDkDiskEntryReadArray& reads, std::string& error) {
  reads.clear();
  error.clear();
  if (entry_paths.empty()) return true;
  std::string first_image;
  int first_index = 0;
  if (!ParseEntryPath(entry_paths.front(), first_image, first_index)) {
    error = "Not a disk-image selection.";
    return false;
  }
  const TDkCbmEntryArray& entries = image.Entries();

  reads.assign(entry_paths.size(), TDkDiskEntryRead{});
  std::set<std::string> visited;  // first blocks of the folders read, across the whole selection
  for (std::size_t i = 0; i < entry_paths.size(); ++i) {
    std::string image_path;
    int index = 0;
    if (!ParseEntryPath(entry_paths[i], image_path, index) ||
        DkAsciiUpper(image_path) != DkAsciiUpper(first_image)) {
      reads[i].Error = "Selection spans more than one disk image.";
      continue;
    }
    if (index < 0 || index >= static_cast<int>(entries.size())) {
      reads[i].Error = Format("entry %d is not on this disk", index);
      continue;
    }
    const TDkCbmEntry& entry = entries[static_cast<std::size_t>(index)];
    ReadEntryInto(image, entry, recurse, i, reads, visited);
  }
  return true;
}

}  // namespace kelvane
