// kelvane list and kelvane info.
#include <algorithm>
#include <memory>
#include <ostream>

#include "cbm/errors.h"
#include "cbm/listing.h"
#include "cli/commands.h"
#include "common/format.h"
#include "common/text.h"
#include "formats/cmd.h"
#include "formats/d64.h"
#include "formats/pc64.h"
#include "registry/registry.h"

namespace kelvane::cli {

namespace {

struct ImageOptions {
  std::string path;
  bool json = false;
  bool strict = false;
  bool unicode = false;
  TDkCharset charset = csUpperGraphics;
};

// `listing`: the options of list (--json, --unicode, --charset) are taken too.
ImageOptions ParseImageOptions(CommandArgs args, const char* command, bool listing) {
  ImageOptions options;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (listing && arg == "--json") {
      options.json = true;
    } else if (listing && arg == "--unicode") {
      options.unicode = true;
    } else if (listing && arg == "--charset" && i + 1 < args.size()) {
      options.charset = ParseCharset(args[++i]);
    } else if (arg == "--strict") {
      options.strict = true;
    } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
      throw UsageError{Format("%s: unknown option '%s'", command, arg.c_str())};
    } else if (options.path.empty()) {
      options.path = arg;
    } else {
      throw UsageError{Format("%s: one image at a time ('%s' is extra)", command, arg.c_str())};
    }
  }
  if (options.path.empty()) throw UsageError{Format("%s: no image file given", command)};
  return options;
}

// Screen codes to readable ASCII: letters of both cases read as capitals, graphics as '?'.
char ScreenCodeToAscii(std::uint8_t code) {
  if (code == 0x00) return '@';
  if (code <= 0x1A) return static_cast<char>('A' + code - 1);
  if (code == 0x1B) return '[';
  if (code == 0x1D) return ']';
  if (code >= 0x20 && code <= 0x3F) return static_cast<char>(code);
  if (code == 0x40) return '-';
  if (code >= 0x41 && code <= 0x5A) return static_cast<char>('A' + code - 0x41);
  return '?';
}

std::string TrimRight(std::string text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

std::string PetsciiText(ByteView bytes) {
  const Bytes ascii = DkPetsciiToAscii(bytes);
  return TrimRight(std::string(ascii.begin(), ascii.end()));
}

}  // namespace

std::string Hex(ByteView bytes) {
  std::string hex;
  for (const std::uint8_t b : bytes) hex += Format("%.2x", b);
  return hex;
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      out += Format("\\u%.4x", static_cast<unsigned>(static_cast<unsigned char>(c)));
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string HeaderLineText(const TDkCbmImage& image) {
  return PetsciiText(DkCbmHeaderLineBytes(image.DiskNameBytes(), image.DiskIdBytes(), false));
}

namespace {

// An entry's line as LIST prints it, in screen codes.
Bytes EntryLineCodes(const TDkCbmEntry& entry) {
  std::uint8_t color = kListStartColor;  // colours do not change the characters
  Bytes codes;
  for (const TDkListCell& cell :
       DkListBasicLine(std::clamp(entry.Blocks, 0, 65535), DkCbmEntryLineBody(entry), color))
    codes.push_back(cell.Code);
  return codes;
}

Bytes ScreenCodes(Bytes petscii) {
  std::transform(petscii.begin(), petscii.end(), petscii.begin(), DkPetsciiToScreenCode);
  return petscii;
}

}  // namespace

std::string EntryLineText(const TDkCbmEntry& entry) {
  std::string line;
  for (const std::uint8_t code : EntryLineCodes(entry)) line += ScreenCodeToAscii(code);
  return TrimRight(line);
}

namespace {

std::string VariantName(const TDkCbmImage& image) {
  const auto* d64 = dynamic_cast<const TDkD64Image*>(&image);
  return d64 != nullptr ? DkD64VariantName(d64->Variant()) : std::string();
}

void PrintWarnings(const TDkCbmImage& image, std::ostream& err) {
  if (image.RecoveryWarnings() == nullptr) return;
  for (const std::string& warning : *image.RecoveryWarnings())
    err << "warning: " << warning << "\n";
}

void PrintListing(const TDkCbmImage& image, std::ostream& out) {
  out << HeaderLineText(image) << "\n";
  for (const TDkCbmEntry& entry : image.Entries()) out << EntryLineText(entry) << "\n";
  out << PetsciiText(image.LastLineBytes()) << "\n";
}

// The listing in the characters that look like the machine's glyphs, blanks at the ends trimmed.
void PrintUnicodeListing(const TDkCbmImage& image, TDkCharset charset, std::ostream& out) {
  std::vector<Bytes> lines{
      ScreenCodes(DkCbmHeaderLineBytes(image.DiskNameBytes(), image.DiskIdBytes(), false))};
  for (const TDkCbmEntry& entry : image.Entries()) lines.push_back(EntryLineCodes(entry));
  lines.push_back(ScreenCodes(image.LastLineBytes()));
  for (Bytes& line : lines) {
    while (!line.empty() && line.back() == 0x20) line.pop_back();
    out << DkScreenCodesToUtf8(line, charset) << "\n";
  }
}

void PrintJson(const TDkCbmImage& image, std::ostream& out) {
  const std::string variant = VariantName(image);
  out << "{\n";
  out << "  \"format\": " << JsonString(image.FormatName()) << ",\n";
  out << "  \"variant\": " << (variant.empty() ? "null" : JsonString(variant)) << ",\n";
  out << "  \"disk_name\": " << JsonString(image.DiskName()) << ",\n";
  out << "  \"disk_name_hex\": " << JsonString(Hex(image.DiskNameBytes())) << ",\n";
  out << "  \"disk_id\": " << JsonString(image.DiskId()) << ",\n";
  out << "  \"disk_id_hex\": " << JsonString(Hex(image.DiskIdBytes())) << ",\n";
  out << "  \"free_blocks\": " << image.FreeBlocks() << ",\n";
  if (const auto* cmd = dynamic_cast<const TDkCmdImage*>(&image))
    out << "  \"default_partition\": " << cmd->DefaultPartition() << ",\n";
  out << "  \"entries\": [";
  const TDkCbmEntryArray& entries = image.Entries();
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const TDkCbmEntry& e = entries[i];
    out << (i == 0 ? "\n" : ",\n") << "    {\"index\": " << i
        << ", \"name\": " << JsonString(e.Name)
        << ", \"name_hex\": " << JsonString(Hex(e.NameBytes))
        << ", \"type\": " << JsonString(DkCbmEntryTypeChars(e))
        << ", \"raw_type\": " << int{e.RawType} << ", \"blocks\": " << e.Blocks
        << ", \"closed\": " << (e.Closed ? "true" : "false")
        << ", \"locked\": " << (e.Locked ? "true" : "false")
        << ", \"first_track\": " << e.FirstTrack << ", \"first_sector\": " << e.FirstSector;
    if (e.Partition != 0) out << ", \"partition\": " << e.Partition;
    out << "}";
  }
  out << (entries.empty() ? "],\n" : "\n  ],\n");
  out << "  \"warnings\": [";
  const TDkStringList* warnings = image.RecoveryWarnings();
  for (std::size_t i = 0; warnings != nullptr && i < warnings->size(); ++i) {
    out << (i == 0 ? "" : ", ") << JsonString((*warnings)[i]);
  }
  out << "]\n}\n";
}

}  // namespace

int RunList(CommandArgs args, std::ostream& out, std::ostream& err) {
  const ImageOptions options = ParseImageOptions(args, "list", true);
  const auto image = OpenAnyImage(options.path, !options.strict);
  if (options.json) {
    PrintJson(*image, out);
  } else if (options.unicode) {
    PrintUnicodeListing(*image, options.charset, out);
  } else {
    PrintListing(*image, out);
  }
  PrintWarnings(*image, err);
  return 0;
}

namespace {

int PrintSidecarInfo(const std::string& path, const std::string& name, ByteView bytes,
                     std::ostream& out) {
  TDkPcSidecar sidecar;
  const std::string error = DkPcSidecarParse(name, bytes, sidecar);
  if (!error.empty()) throw Exception(error);
  const std::size_t blocks = (sidecar.Data.size() + 253) / 254;
  out << "File:         " << path << "\n";
  out << "Format:       PC64 file\n";
  out << "CBM name:     " << sidecar.Name << "\n";
  out << "Name bytes:   " << Hex(sidecar.NameBytes) << "\n";
  out << "Type:         " << DkCbmFileTypeName(sidecar.FileType) << "\n";
  if (sidecar.FileType == cftREL) out << "Record length: " << int{sidecar.RecordLength} << "\n";
  out << "Size:         " << sidecar.Data.size() << " bytes (" << std::max<std::size_t>(blocks, 1)
      << " blocks)\n";
  return 0;
}

}  // namespace

int RunInfo(CommandArgs args, std::ostream& out, std::ostream& err) {
  const ImageOptions options = ParseImageOptions(args, "info", false);
  ImageFile file = ReadImageFile(options.path);
  Bytes& bytes = file.bytes;
  const std::string& name = file.name;
  if (DkDetectImageFormat(name, bytes, static_cast<long long>(bytes.size())) == cifPcSidecar) {
    return PrintSidecarInfo(options.path, name, bytes, out);
  }
  std::string source;
  std::unique_ptr<TDkCbmImage> image;
  if (IsGcrFile(name, bytes)) {
    const TDkG64Sectors sectors = DecodeGcrFile(name, bytes);
    source =
        Format("%s, decoded to %s (%d bad sectors)",
               DkEndsWithNoCase(name, ".nib") ? "NIB"
               : sectors.DoubleSided          ? "G71"
                                              : "G64",
               sectors.DoubleSided ? "D71" : "D64", static_cast<int>(sectors.BadSectors.size()));
    image = DkOpenImage(sectors.ImageBytes,
                        std::string("converted") + DkGcrDecodedExtension(sectors.DoubleSided),
                        !options.strict);
  } else {
    image = DkOpenImage(std::move(bytes), name, !options.strict);
  }
  const std::string variant = VariantName(*image);
  out << "File:         " << options.path << "\n";
  if (!source.empty()) out << "Source:       " << source << "\n";
  out << "Format:       " << image->FormatName() << "\n";
  if (!variant.empty()) out << "DOS variant:  " << variant << "\n";
  out << "Tracks:       " << image->TrackCount() << "\n";
  if (image->HasErrorInfo()) {
    const auto& info = image->ErrorInfo();
    // Codes 0 and 1 both mean "no error" in error-info blocks.
    const auto flagged =
        std::count_if(info.begin(), info.end(), [](std::uint8_t c) { return c > 1; });
    out << "Error info:   yes (" << info.size() << " sectors, " << flagged << " flagged)\n";
  } else {
    out << "Error info:   no\n";
  }
  out << "Disk name:    " << image->DiskName() << "\n";
  out << "Disk id:      " << image->DiskId() << "\n";
  out << "DOS version:  " << Format("$%.2X", image->DosVersion()) << "\n";
  out << "Directory:    " << Format("T%d/S%d", image->DirTrack(), image->DirSector()) << "\n";
  out << "Entries:      " << image->Entries().size() << "\n";
  out << "Free blocks:  " << image->FreeBlocks() << "\n";
  if (const auto* cmd = dynamic_cast<const TDkCmdImage*>(image.get())) {
    out << "Default partition: " << cmd->DefaultPartition() << "\n";
    out << "Partitions:\n";
    for (const TDkCmdPartition& partition : cmd->Partitions()) {
      const std::string format = cmd->PartitionFormat(partition.Number);
      out << Format("  %2d %-18s %-4s %5d blocks from unit $%.4X%s\n", partition.Number,
                    ("\"" + DkCbmNameToString(partition.NameBytes) + "\"").c_str(),
                    DkCmdPartitionTypeChars(partition.Type),
                    static_cast<int>(partition.Size / kSectorSize),
                    static_cast<unsigned>(partition.Start / kCmdUnitBytes),
                    format.empty() ? "" : (", " + format).c_str());
    }
  }
  const TDkStringList* warnings = image->RecoveryWarnings();
  if (warnings != nullptr && !warnings->empty()) {
    out << "Directory damage:\n";
    for (const std::string& warning : *warnings) out << "  " << warning << "\n";
  }
  (void)err;
  return 0;
}

}  // namespace kelvane::cli
