#include "collect/properties.h"

#include <algorithm>

#include "cbm/listing.h"
#include "collect/find.h"
#include "render/charset.h"

namespace kelvane {

namespace {

// PETSCII as the upper charset shows it, up to the first $A0 and without blanks at the end.
std::string Text(ByteView petscii) {
  Bytes codes;
  for (const std::uint8_t byte : petscii) {
    if (byte == 0xA0) break;
    codes.push_back(DkPetsciiToScreenCode(byte));
  }
  while (!codes.empty() && codes.back() == 0x20) codes.pop_back();
  return DkScreenCodesToUtf8(codes, csUpperGraphics);
}

}  // namespace

TDkImageProperties DkImageProperties(const TDkCbmImage& image) {
  TDkImageProperties properties;
  properties.Title = Text(image.DiskNameBytes());
  properties.Keywords = Text(image.DiskIdBytes());
  properties.FileCount = static_cast<unsigned>(image.Entries().size());
  // The listing's last line ("664 BLOCKS FREE.", a tape's free slots) as words in a sentence.
  std::string last = Text(image.LastLineBytes());
  if (!last.empty() && last.back() == '.') last.pop_back();
  std::transform(last.begin(), last.end(), last.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
  properties.Comment = image.FormatName() + ", " + std::to_string(properties.FileCount) +
                       (properties.FileCount == 1 ? " file, " : " files, ") + last;
  TDkStringList warnings;
  for (const TDkFindHit& hit : DkFindEntries(image, TDkFindQuery{}, warnings)) {
    properties.Contents +=
        Text(hit.Entry.NameBytes) + " " + DkCbmFileTypeName(hit.Entry.FileType) + "\n";
  }
  return properties;
}

}  // namespace kelvane
