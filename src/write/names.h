#pragma once

// The rules every CBM file name passes before it is written, the file-type extension table, and
// the conversions from host file names to CBM names.

#include <string>

#include "cbm/entry.h"

namespace kelvane {

inline constexpr int kDkCbmNameLength = 16;

// The name padded with $A0 to 16 bytes; throws EDkCbmConstraintViolation for an empty name, one
// longer than 16 bytes, or one holding a reserved byte.
Bytes DkCbmValidateFileName(ByteView name);
// Positions 0-15 compared exactly; a position past the end of a name counts as $A0.
bool DkCbmNamesEqual(ByteView a, ByteView b);
// = , : * ? and the bytes $00 and $A0.
bool DkCbmIsReservedNameByte(std::uint8_t byte);
// ".del", ".seq", ".prg", ".usr", ".rel"; empty for CBM and DIR.
std::string DkCbmFileTypeExtension(TDkCbmFileType file_type);
// Case-insensitive; `file_type` is cftPRG unless an extension matches.
bool DkCbmFileTypeFromExtension(const std::string& extension, TDkCbmFileType& file_type);
bool DkCbmIsCbmExtension(const std::string& extension);
// One CBM byte per host character: letters upper-cased, characters a CBM name cannot hold as
// such replaced by '_'.
Bytes DkCbmHostNameToBytes(const std::string& host_name);
// A CBM name (as host text, at most 16 characters) for a host file; a UTF-8 character outside
// ASCII counts as one character and becomes '_'.
std::string DkCbmUniqueName(const std::string& host_path);

}  // namespace kelvane
