// kelvane new: a blank formatted image of the kind the file name's extension names.
#include <filesystem>
#include <ostream>

#include "cli/commands.h"
#include "common/exception.h"
#include "common/format.h"
#include "registry/registry.h"
#include "write/blank.h"

namespace kelvane::cli {

int RunNew(CommandArgs args, std::ostream& out, std::ostream& err) {
  std::string path;
  std::string name_text;
  int tracks = 0;
  bool force = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--name" && i + 1 < args.size()) {
      name_text = args[++i];
    } else if (arg == "--tracks" && i + 1 < args.size()) {
      tracks = ParseInt(args[++i], "--tracks", 1, 255);
    } else if (arg == "--force" || arg == "-f") {
      force = true;
    } else if (!arg.empty() && arg[0] == '-') {
      throw UsageError{Format("new: unknown option '%s'", arg.c_str())};
    } else if (path.empty()) {
      path = arg;
    } else {
      throw UsageError{Format("new: one image at a time ('%s' is extra)", arg.c_str())};
    }
  }
  if (path.empty()) throw UsageError{"new: no image file given"};

  TDkNewDisk request;
  const std::string file_name = PathFromUtf8(path).filename().string();
  request.Format = DkDetectImageFormat(file_name, ByteView(), -1);
  if (!DkIsWritableFormat(request.Format)) {
    throw UsageError{
        Format("new: '%s' names no disk kind; end it in .d64, .d71, .d81, .d80, "
               ".d82, .dnp, .dfi, .d1m, .d2m or .d4m",
               file_name.c_str())};
  }
  const bool flat = request.Format == cifDnp || request.Format == cifDfi;
  if (request.Format == cifD64) {
    request.Tracks = tracks == 0 ? 35 : tracks;
  } else if (flat) {
    if (tracks == 0) throw UsageError{"new: a DNP or DFI needs --tracks N (1 to 255)"};
    request.Tracks = tracks;
  } else if (tracks != 0) {
    throw UsageError{Format("new: a %s has a fixed size; --tracks is for D64, DNP and DFI",
                            DkImageFormatName(request.Format).c_str())};
  }
  if (name_text.empty()) {
    // The file's own name, cut to what a disk name holds.
    name_text = PathFromUtf8(path).stem().string().substr(0, 16) + ",00";
  }
  DkParseDiskName(name_text, request.Name, request.Id);

  std::error_code error;
  if (!force && std::filesystem::exists(PathFromUtf8(path), error)) {
    throw Exception(Format("%s: already exists (use --force to replace it).", path.c_str()));
  }
  Bytes bytes = DkBlankImage(request);
  // What is written must read back as an empty disk of its kind.
  const auto image = DkOpenImage(TDkImageBytes::Borrow(bytes), file_name, false);
  WriteFileWhole(path, bytes);
  out << Format("Made %s: a blank %s, %d blocks free.\n", path.c_str(), image->FormatName().c_str(),
                image->FreeBlocks());
  (void)err;
  return 0;
}

}  // namespace kelvane::cli
