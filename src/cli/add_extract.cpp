// kelvane add and kelvane extract.
#include <algorithm>
#include <filesystem>
#include <map>
#include <ostream>
#include <system_error>

#include "cli/commands.h"
#include "common/format.h"
#include "common/text.h"
#include "extract/entry_io.h"
#include "shell/drop_write.h"

namespace kelvane::cli {

namespace {

bool IsFolderEntry(const TDkCbmEntry& entry) {
  return entry.FileType == cftCBM || entry.FileType == cftDIR;
}

std::string TrimmedUpper(std::string text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return DkAsciiUpper(std::move(text));
}

bool IsNumber(const std::string& text) {
  return !text.empty() && text.size() <= 9 &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The entries a selector names: a number is an index (from 0, as `list --json` shows it); any
// other text is a name, compared without trailing blanks and ASCII letter case.
std::vector<int> SelectEntries(const TDkCbmEntryArray& entries, const std::string& selector) {
  std::vector<int> found;
  if (IsNumber(selector)) {
    const int index = std::stoi(selector);
    if (index < static_cast<int>(entries.size())) found.push_back(index);
    return found;
  }
  const std::string wanted = TrimmedUpper(selector);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (TrimmedUpper(entries[i].Name) == wanted) found.push_back(static_cast<int>(i));
  }
  return found;
}

// Host names already given out, per folder item (-1 for the target folder itself).
class FolderNames {
 public:
  std::string Claim(int folder, const std::string& name) {
    std::vector<std::string>& taken = taken_[folder];
    const std::string upper = DkAsciiUpper(name);
    const bool clash = std::any_of(taken.begin(), taken.end(), [&](const std::string& other) {
      return DkAsciiUpper(other) == upper;
    });
    const std::string unique = clash ? DkUniqueFileName(taken, name, 1) : name;
    taken.push_back(unique);
    return unique;
  }

 private:
  std::map<int, std::vector<std::string>> taken_;
};

struct ExtractOptions {
  std::string image;
  std::vector<std::string> selectors;
  std::string folder = ".";
  bool recurse = false;
  bool force = false;
};

ExtractOptions ParseExtractOptions(CommandArgs args) {
  ExtractOptions options;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "-d" || arg == "--dir") {
      if (i + 1 >= args.size()) throw UsageError{"extract: -d needs a folder"};
      options.folder = args[++i];
    } else if (arg == "--recurse" || arg == "-r") {
      options.recurse = true;
    } else if (arg == "--force" || arg == "-f") {
      options.force = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      throw UsageError{Format("extract: unknown option '%s'", arg.c_str())};
    } else if (options.image.empty()) {
      options.image = arg;
    } else {
      options.selectors.push_back(arg);
    }
  }
  if (options.image.empty()) throw UsageError{"extract: no image file given"};
  while (options.folder.size() > 1 &&
         (options.folder.back() == '/' || options.folder.back() == '\\'))
    options.folder.pop_back();
  return options;
}

// Writes the items of one selected entry into `folder`; false when any of them failed.
bool WriteItems(const TDkDiskEntryReadArray& reads, const std::string& folder, bool force,
                FolderNames& names, int base_key, std::ostream& out, std::ostream& err) {
  bool ok = true;
  std::vector<std::string> paths(reads.size());
  std::vector<bool> written(reads.size(), false);
  for (std::size_t i = 0; i < reads.size(); ++i) {
    const TDkDiskEntryRead& item = reads[i];
    const int parent = item.Parent;
    if (parent >= 0 && !written[static_cast<std::size_t>(parent)]) continue;
    const std::string name = names.Claim(parent < 0 ? -1 : base_key + parent, item.Name);
    const std::string& parent_path = parent < 0 ? folder : paths[static_cast<std::size_t>(parent)];
    paths[i] = parent_path == "." ? name : parent_path + "/" + name;
    if (!item.Error.empty()) {
      err << "kelvane extract: " << paths[i] << ": " << item.Error << "\n";
      ok = false;
      continue;
    }
    const std::filesystem::path target = PathFromUtf8(paths[i]);
    std::error_code error;
    if (item.IsDirectory) {
      std::filesystem::create_directory(target, error);
      if (!std::filesystem::is_directory(target, error)) {
        err << "kelvane extract: " << paths[i] << ": cannot make the folder.\n";
        ok = false;
        continue;
      }
    } else {
      if (!force && std::filesystem::exists(std::filesystem::symlink_status(target, error))) {
        err << "kelvane extract: " << paths[i] << ": exists; not replaced (use --force)\n";
        ok = false;
        continue;
      }
      try {
        WriteFileWhole(paths[i], item.Bytes);
      } catch (const Exception& failure) {
        err << "kelvane extract: " << failure.Message() << "\n";
        ok = false;
        continue;
      }
    }
    written[i] = true;
    out << paths[i] << (item.IsDirectory ? "/" : "") << "\n";
  }
  return ok;
}

}  // namespace

int RunExtract(CommandArgs args, std::ostream& out, std::ostream& err) {
  const ExtractOptions options = ParseExtractOptions(args);
  const std::unique_ptr<TDkCbmImage> image = OpenAnyImage(options.image, true);
  if (const TDkStringList* warnings = image->RecoveryWarnings()) {
    for (const std::string& warning : *warnings)
      err << "kelvane extract: warning: " << warning << "\n";
  }
  const TDkCbmEntryArray& entries = image->Entries();

  bool ok = true;
  std::vector<int> selected;
  if (options.selectors.empty()) {
    for (std::size_t i = 0; i < entries.size(); ++i) selected.push_back(static_cast<int>(i));
  }
  for (const std::string& selector : options.selectors) {
    const std::vector<int> found = SelectEntries(entries, selector);
    if (found.empty()) {
      err << "kelvane extract: " << selector << ": no such entry on this disk\n";
      ok = false;
    }
    selected.insert(selected.end(), found.begin(), found.end());
  }

  const std::filesystem::path folder = PathFromUtf8(options.folder);
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (!std::filesystem::is_directory(folder, error))
    throw Exception(Format("%s: cannot make the folder.", options.folder.c_str()));

  // Selections are read one entry at a time, so a damaged file costs only itself.
  FolderNames names;
  int base_key = 0;
  for (const int index : selected) {
    const TDkCbmEntry& entry = entries[static_cast<std::size_t>(index)];
    if (!options.recurse && IsFolderEntry(entry)) {
      err << "kelvane extract: " << entry.Name
          << ": a partition or directory; skipped (use --recurse)\n";
      ok = false;
      continue;
    }
    TDkDiskEntryReadArray reads;
    std::string selection_error;
    try {
      // The selection names the image by a neutral path: only the index matters here.
      if (!ReadSelection({MakeEntryPath("image.d64", index)}, *image, options.recurse, reads,
                         selection_error))
        throw Exception(selection_error);
    } catch (const Exception& failure) {
      err << "kelvane extract: " << entry.Name << ": " << failure.Message() << "\n";
      ok = false;
      continue;
    }
    ok = WriteItems(reads, options.folder, options.force, names, base_key, out, err) && ok;
    base_key += static_cast<int>(reads.size());
  }
  return ok ? 0 : 1;
}

int RunAdd(CommandArgs args, std::ostream& out, std::ostream& err) {
  std::vector<std::string> paths;
  bool verbose = false;
  for (const std::string& arg : args) {
    if (arg == "--verbose" || arg == "-v") {
      verbose = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      throw UsageError{Format("add: unknown option '%s'", arg.c_str())};
    } else {
      paths.push_back(arg);
    }
  }
  if (paths.size() < 2) throw UsageError{"add: give an image and at least one file to add"};
  std::string image = paths.front();
  paths.erase(paths.begin());
  const std::string archive = ArchiveOf(image);
  if (!archive.empty()) {
    throw Exception(Format("%s: is an archive; kelvane never writes into archives (unpack the "
                           "image, add to it, and pack it again).",
                           archive.c_str()));
  }

  // A link to an image: the image it points to is the one replaced, and the link stays.
  std::error_code error;
  if (std::filesystem::is_symlink(PathFromUtf8(image), error)) {
    const std::filesystem::path target = std::filesystem::canonical(PathFromUtf8(image), error);
    if (!error) {
      const std::u8string text = target.u8string();
      image.assign(text.begin(), text.end());
    }
  }
  const std::unique_ptr<HostFiles> host = MakeSystemHostFiles();
  const TKvDropResult result = KvWriteDroppedFiles(image, paths, *host);
  if (verbose) {
    for (const TKvDropFile& file : result.Files) {
      if (!file.Written) continue;
      out << Format("%s -> \"%s\" %s\n", BaseName(file.Path).c_str(), file.CbmName.c_str(),
                    DkCbmFileTypeName(file.FileType).c_str());
    }
  }
  const std::string summary = KvDropSummary(result);
  if (!summary.empty()) err << "kelvane add: " << summary << "\n";
  if (verbose) {
    // The per-file messages carry what the summary leaves out (a writer's exact refusal).
    for (const TKvDropFile& file : result.Files) {
      if (!file.Written && file.Code != deNone && file.Message != KvDropErrorText(file.Code))
        err << "  " << BaseName(file.Path) << ": " << file.Message << "\n";
    }
  }
  return result.WrittenCount == static_cast<int>(result.Files.size()) ? 0 : 1;
}

}  // namespace kelvane::cli
