#include "write/writer_select.h"

#include "cbm/errors.h"
#include "common/format.h"
#include "formats/cmd.h"
#include "write/cbm_writers.h"
#include "write/flat_writers.h"

namespace kelvane {

namespace {

// A CMD FD disk takes files into its default partition, written by that partition's own writer
// over its bytes; nothing outside them changes. A partition table with a fault is not written.
std::unique_ptr<TDkCbmImageWriter> CreateCmdWriter(WritableBytes bytes) {
  const TDkCmdTable table = DkCmdReadTable(bytes);
  if (!table.Problems.empty()) throw EDkCbmMalformedDisk(table.Problems.front());
  const TDkCmdPartition& target = *table.Default();
  const TDkCbmImageFormat format = target.Type == cptNative ? cifDnp
                                   : target.Type == cpt1541 ? cifD64
                                   : target.Type == cpt1571 ? cifD71
                                   : target.Type == cpt1581 ? cifD81
                                                            : cifUnknown;
  if (format != cifUnknown)
    return DkCreateWriter(bytes.subspan(target.Start, DkCmdImageSize(target)), "", format);
  const char* holds = target.Type == cpt1581Cpm       ? "a CP/M disk"
                      : target.Type == cptPrintBuffer ? "a print buffer"
                                                      : "a foreign format";
  throw EDkUnsupportedImageFormat(
      Format("The default partition %d \"%s\" holds %s, not Commodore files: it cannot be written.",
             target.Number, DkCbmNameToString(target.NameBytes).c_str(), holds));
}

}  // namespace

std::unique_ptr<TDkCbmImageWriter> DkCreateWriter(WritableBytes bytes, const std::string& file_name,
                                                  TDkCbmImageFormat format) {
  switch (format) {
    case cifD64:
      return TDkD64Writer::FromBytes(bytes);
    case cifD71:
      return TDkD71Writer::FromBytes(bytes);
    case cifD81:
      return TDkD81Writer::FromBytes(bytes);
    case cifD80:
      return TDkD80Writer::FromBytes(bytes);
    case cifD82:
      return TDkD82Writer::FromBytes(bytes);
    case cifDnp:
      return TDkDnpWriter::FromBytes(bytes);
    case cifDfi:
      return TDkDfiWriter::FromBytes(bytes);
    case cifD1M:
    case cifD2M:
    case cifD4M:
      return CreateCmdWriter(bytes);
    case cifUnknown:
      throw EDkCbmImageFormatError(
          DkSizeErrorText(file_name, static_cast<long long>(bytes.size())));
    default:
      throw EDkUnsupportedImageFormat(
          Format("Image format %s is not supported.", DkImageFormatName(format).c_str()));
  }
}

std::unique_ptr<TDkCbmImageWriter> DkOpenWriter(WritableBytes bytes, const std::string& file_name) {
  return DkCreateWriter(
      bytes, file_name,
      DkDetectImageFormat(file_name, bytes, static_cast<long long>(bytes.size())));
}

std::string DkWriteBlockReason(const std::string& file_name, long long size) {
  if (DkIsWritableFormat(DkDetectImageFormat(file_name, size))) return {};
  return DkSizeErrorText(file_name, size);
}

}  // namespace kelvane
