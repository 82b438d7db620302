#include "write/writer_select.h"

#include "cbm/errors.h"
#include "common/format.h"
#include "write/cbm_writers.h"
#include "write/flat_writers.h"

namespace kelvane {

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

std::string DkReadOnlyReasonText(TDkCbmImageFormat format) {
  switch (format) {
    case cifD81:
      return "This D81 has a partition in an old layout a 1581 cannot read. It stays read-only "
             "until it is "
             "converted.";
    case cifD80:
      return "This D80 has old header and BAM links an 8050 cannot follow. It stays read-only "
             "until it is "
             "converted.";
    case cifD82:
      return "This D82 has old header and BAM links an 8250 cannot follow. It stays read-only "
             "until it is "
             "converted.";
    default:
      return "This DNP has an old layout a CMD drive cannot read. It stays read-only until it is "
             "converted.";
  }
}

}  // namespace kelvane
