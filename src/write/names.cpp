#include "write/names.h"

#include <array>

#include "common/format.h"
#include "common/text.h"
#include "write/writer_base.h"

namespace kelvane {

namespace {

constexpr std::array<const char*, 7> kExtensions = {".del", ".seq", ".prg", ".usr", ".rel", "", ""};

// Host names are UTF-8: a character outside ASCII becomes one '_' (the blank a CBM name shows for
// it), not one per byte of its encoding. Bytes that are not UTF-8 stay as they are.
std::string OneBytePerCharacter(const std::string& name) {
  std::string out;
  for (std::size_t i = 0; i < name.size();) {
    const auto lead = static_cast<unsigned char>(name[i]);
    std::size_t length = 1;
    if (lead >= 0xC2 && lead <= 0xDF) length = 2;
    if (lead >= 0xE0 && lead <= 0xEF) length = 3;
    if (lead >= 0xF0 && lead <= 0xF4) length = 4;
    bool whole = length > 1 && i + length <= name.size();
    for (std::size_t k = 1; whole && k < length; ++k) {
      whole = (static_cast<unsigned char>(name[i + k]) & 0xC0) == 0x80;
    }
    if (whole) {
      out += '_';
      i += length;
    } else {
      out += name[i++];
    }
  }
  return out;
}

}  // namespace

bool DkCbmIsReservedNameByte(std::uint8_t byte) {
  switch (byte) {
    case 0x3D:
    case 0x2C:
    case 0x3A:
    case 0x2A:
    case 0x3F:
    case 0x00:
    case 0xA0:
      return true;
    default:
      return false;
  }
}

Bytes DkCbmValidateFileName(ByteView name) {
  if (name.empty()) throw EDkCbmConstraintViolation("File name may not be empty.");
  if (name.size() > static_cast<std::size_t>(kDkCbmNameLength)) {
    throw EDkCbmConstraintViolation(Format("File name is %d bytes; the maximum is %d.",
                                           static_cast<int>(name.size()), kDkCbmNameLength));
  }
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (DkCbmIsReservedNameByte(name[i])) {
      throw EDkCbmConstraintViolation(Format(
          "File name contains reserved byte 0x%.2X at position %d.", name[i], static_cast<int>(i)));
    }
  }
  Bytes padded(name.begin(), name.end());
  padded.resize(kDkCbmNameLength, 0xA0);
  return padded;
}

bool DkCbmNamesEqual(ByteView a, ByteView b) {
  for (std::size_t i = 0; i < static_cast<std::size_t>(kDkCbmNameLength); ++i) {
    const std::uint8_t x = i < a.size() ? a[i] : 0xA0;
    const std::uint8_t y = i < b.size() ? b[i] : 0xA0;
    if (x != y) return false;
  }
  return true;
}

std::string DkCbmFileTypeExtension(TDkCbmFileType file_type) {
  const int ordinal = static_cast<int>(file_type);
  if (ordinal < 0 || ordinal >= static_cast<int>(kExtensions.size())) return {};
  return kExtensions[static_cast<std::size_t>(ordinal)];
}

bool DkCbmFileTypeFromExtension(const std::string& extension, TDkCbmFileType& file_type) {
  file_type = cftPRG;
  if (extension.empty()) return false;
  const std::string upper = DkAsciiUpper(extension);
  for (std::size_t i = 0; i < kExtensions.size(); ++i) {
    if (*kExtensions[i] != '\0' && upper == DkAsciiUpper(kExtensions[i])) {
      file_type = static_cast<TDkCbmFileType>(i);
      return true;
    }
  }
  return false;
}

bool DkCbmIsCbmExtension(const std::string& extension) {
  TDkCbmFileType ignored = cftPRG;
  return DkCbmFileTypeFromExtension(extension, ignored);
}

Bytes DkCbmHostNameToBytes(const std::string& host_name) {
  Bytes out;
  out.reserve(host_name.size());
  for (const char ch : host_name) {
    const auto c = static_cast<std::uint8_t>(ch);
    const bool kept = (c >= 0x20 && c <= 0x39) || c == 0x3B || c == 0x3C || c == 0x3E ||
                      c == 0x40 || (c >= 0x41 && c <= 0x5A) || c == 0x5B || c == 0x5D || c == 0x5F;
    if (kept) {
      out.push_back(c);
    } else if (c >= 0x61 && c <= 0x7A) {
      out.push_back(static_cast<std::uint8_t>(c - 0x20));
    } else {
      out.push_back(0x5F);
    }
  }
  return out;
}

std::string DkCbmUniqueName(const std::string& host_path) {
  const std::size_t cut = host_path.find_last_of("\\/:");
  std::string name =
      OneBytePerCharacter(cut == std::string::npos ? host_path : host_path.substr(cut + 1));
  for (char& c : name) {
    if (c == ',' || c == '=') c = '_';
  }
  const std::size_t dot = name.rfind('.');
  const std::string extension =
      (dot == std::string::npos || dot == 0) ? std::string() : name.substr(dot);
  const std::string stem = name.substr(0, name.size() - extension.size());

  if (DkCbmIsCbmExtension(extension)) {
    std::string tail = stem.substr(0, std::min<std::size_t>(stem.size(), kDkCbmNameLength));
    while (!tail.empty() && static_cast<unsigned char>(tail.back()) < 0x21) tail.pop_back();
    if (!tail.empty()) return tail;
  }
  std::string base12 = stem.substr(0, std::min<std::size_t>(stem.size(), 12));
  base12.resize(12, ' ');
  if (name.size() <= static_cast<std::size_t>(kDkCbmNameLength) && !extension.empty() &&
      extension.size() <= 4) {
    return base12 + extension;
  }
  return Format("%s.%.3d", base12.c_str(), 1);
}

}  // namespace kelvane
