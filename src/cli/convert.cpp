// kelvane convert, and the GCR path that list and info share with it.
#include <filesystem>
#include <fstream>
#include <ostream>

#include "cli/commands.h"
#include "common/format.h"
#include "common/text.h"
#include "formats/gcr.h"
#include "registry/registry.h"

namespace kelvane::cli {

bool IsGcrFile(const std::string& name, ByteView bytes) {
  return DkHasGcrExtension(name) ||
         DkDetectImageFormat(name, bytes, static_cast<long long>(bytes.size())) == cifG64;
}

TDkG64Sectors DecodeGcrFile(const std::string& name, ByteView bytes) {
  if (DkEndsWithNoCase(name, ".nib"))
    return DkG64DecodeSectors(TDkG64Image::Parse(DkNibToG64(bytes)));
  return DkG64DecodeSectors(TDkG64Image::Parse(bytes));
}

ImageFile DecodedImage(ImageFile file) {
  if (!IsGcrFile(file.name, file.bytes)) return file;
  // GCR-level images are read through their D64 (a G71: D71) form.
  TDkG64Sectors sectors = DecodeGcrFile(file.name, file.bytes);
  return {std::move(sectors.ImageBytes),
          std::string("converted") + DkGcrDecodedExtension(sectors.DoubleSided)};
}

std::unique_ptr<TDkCbmImage> OpenAnyImage(const std::string& path, bool recover) {
  ImageFile file = DecodedImage(ReadImageFile(path));
  return DkOpenImage(std::move(file.bytes), file.name, recover);
}

// Writes `bytes` to `path` through a temporary file beside it, so that a failed write never
// leaves a half-written file under the final name.
void WriteFileWhole(const std::string& path, const Bytes& bytes) {
  const std::filesystem::path target = PathFromUtf8(path);
  const std::filesystem::path temporary = PathFromUtf8(path + ".kelvane.tmp");
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
      std::error_code ignored;
      std::filesystem::remove(temporary, ignored);
      throw Exception(Format("%s: cannot write the file.", path.c_str()));
    }
  }
  std::error_code error;
  std::filesystem::rename(temporary, target, error);
  if (error) {
    std::filesystem::remove(temporary, error);
    throw Exception(Format("%s: cannot write the file.", path.c_str()));
  }
}

int RunConvert(CommandArgs args, std::ostream& out, std::ostream& err) {
  std::vector<std::string> paths;
  bool verbose = false;
  bool force = false;
  for (const std::string& arg : args) {
    if (arg == "--verbose" || arg == "-v") {
      verbose = true;
    } else if (arg == "--force" || arg == "-f") {
      force = true;
    } else if (!arg.empty() && arg[0] == '-') {
      throw UsageError{Format("convert: unknown option '%s'", arg.c_str())};
    } else {
      paths.push_back(arg);
    }
  }
  if (paths.size() != 2)
    throw UsageError{"convert: give one G64, G71 or NIB file and one D64 (D71) file to write"};
  const std::string& input = paths[0];
  const std::string& output = paths[1];

  const ImageFile file = ReadImageFile(input);
  if (!IsGcrFile(file.name, file.bytes)) {
    throw Exception(Format("%s: not a G64, G71 or NIB file.", input.c_str()));
  }
  std::error_code error;
  if (!force && std::filesystem::exists(PathFromUtf8(output), error)) {
    throw Exception(Format("%s: already exists (use --force to replace it).", output.c_str()));
  }
  const TDkG64Sectors sectors = DecodeGcrFile(file.name, file.bytes);
  WriteFileWhole(output, sectors.ImageBytes);

  out << "Wrote " << output << ": " << sectors.TrackCount << " tracks, "
      << sectors.BadSectors.size() << " bad sectors.\n";
  if (verbose) {
    for (const TDkG64BadSector& bad : sectors.BadSectors) {
      out << Format("  bad sector T%d/S%d\n", bad.Track, bad.Sector);
    }
  }
  (void)err;
  return 0;
}

}  // namespace kelvane::cli
