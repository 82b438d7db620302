#pragma once

// The tool's subcommands. Each takes its arguments (after the command name) and returns an exit
// status; library exceptions are reported by the dispatcher in cli.cpp.

#include <filesystem>
#include <iosfwd>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "cbm/image.h"
#include "common/bytes.h"
#include "formats/gcr.h"
#include "render/charset.h"

namespace kelvane::cli {

using CommandArgs = std::span<const std::string>;

int RunList(CommandArgs args, std::ostream& out, std::ostream& err);
int RunInfo(CommandArgs args, std::ostream& out, std::ostream& err);
int RunConvert(CommandArgs args, std::ostream& out, std::ostream& err);
int RunRender(CommandArgs args, std::ostream& out, std::ostream& err);
int RunThumbnail(CommandArgs args, std::ostream& out, std::ostream& err);
int RunExtract(CommandArgs args, std::ostream& out, std::ostream& err);
int RunAdd(CommandArgs args, std::ostream& out, std::ostream& err);
int RunFind(CommandArgs args, std::ostream& out, std::ostream& err);
int RunNew(CommandArgs args, std::ostream& out, std::ostream& err);

// Writes a whole file through a temporary file beside it and a rename.
void WriteFileWhole(const std::string& path, const Bytes& bytes);

// Thrown for a wrong command line; the dispatcher prints it with the usage hint, exit status 2.
struct UsageError {
  std::string message;
};

// No image format is larger than 16 MiB (a 256-track DNP).
inline constexpr long long kMaxImageFileSize = 16LL * 1024 * 1024;

// An image's bytes and the base name its format is detected by.
struct ImageFile {
  Bytes bytes;
  std::string name;
};

// Reads a whole image file, or the image in an archive: the archive's only image, or the member
// a path such as "games.zip/disks/giana.d64" names. Files larger than any image format are
// refused with the registry's size message before they are read.
ImageFile ReadImageFile(const std::string& path);
// The archive `path` is or lies inside; empty for a plain file.
std::string ArchiveOf(const std::string& path);
// Whether an archive member (or file) holds an image the tool reads.
bool IsImageFile(const std::string& name, ByteView bytes);

// G64 and NIB files, by extension or signature.
bool IsGcrFile(const std::string& name, ByteView bytes);
// Decodes a G64 or NIB file into D64 sectors.
TDkG64Sectors DecodeGcrFile(const std::string& name, ByteView bytes);
// A G64 or NIB file as the D64 (D71) it decodes to; other images as they are.
ImageFile DecodedImage(ImageFile file);
// Opens any image the tool reads; G64 and NIB files through their D64 form.
std::unique_ptr<TDkCbmImage> OpenAnyImage(const std::string& path, bool recover);

// Texts shared by list and find.
std::string HeaderLineText(const TDkCbmImage& image);  // "0 "NAME" ID 2A", as list prints it
std::string EntryLineText(const TDkCbmEntry& entry);   // an entry's line, as list prints it
std::string JsonString(const std::string& text);
std::string Hex(ByteView bytes);

// `text` as a whole number from `low` to `high`; otherwise a UsageError naming `option`.
int ParseInt(const std::string& text, const char* option, int low, int high);
// "upper" or "lower"; otherwise a UsageError.
TDkCharset ParseCharset(const std::string& text);

// A path from the UTF-8 text the tool works in (on Windows the command line is converted to
// UTF-8 at start-up, so names in any script reach the file system intact).
std::filesystem::path PathFromUtf8(const std::string& path);

// The base name of a path (after the last '/' or '\').
std::string BaseName(const std::string& path);

}  // namespace kelvane::cli
