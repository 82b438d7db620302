#include "formats/pc64.h"

#include <algorithm>
#include <cstring>

#include "common/format.h"
#include "common/text.h"

namespace kelvane {

namespace {

constexpr std::size_t kNameOffset = 8;
constexpr std::size_t kNameLength = 16;
constexpr std::size_t kRecordLengthOffset = 25;
constexpr char kSignature[8] = {'C', '6', '4', 'F', 'i', 'l', 'e', '\0'};

bool EndsName(std::uint8_t b) {
  return b == 0x00 || b == 0xA0;
}

std::string HostName(ByteView name) {
  std::string text;
  for (const std::uint8_t b : name) {
    if (EndsName(b)) break;
    char c = '?';
    if (b >= 0x20 && b <= 0x5F)
      c = static_cast<char>(b);
    else if (b == 0x60)
      c = '-';
    else if (b >= 0x61 && b <= 0x7A)
      c = static_cast<char>(b - 0x20);
    else if (b >= 0xC1 && b <= 0xDA)
      c = static_cast<char>(b - 0x80);
    text += c;
  }
  while (!text.empty() && static_cast<unsigned char>(text.back()) < 33) text.pop_back();
  return text;
}

}  // namespace

std::string DkPcSidecarType(const std::string& path, TDkCbmFileType& file_type) {
  file_type = cftDEL;
  const std::size_t point = path.rfind('.');
  if (point == std::string::npos || point == 0 || point + 1 == path.size()) {
    return Format("Path '%s' has no PC64 extension.", path.c_str());
  }
  const std::string extension = DkAsciiUpper(path.substr(point + 1));
  const auto is_digit = [](char c) { return c >= '0' && c <= '9'; };
  if (extension.size() != 3 || !is_digit(extension[1]) || !is_digit(extension[2])) {
    return Format("PC64 extension must match [PSUR][0-9][0-9]; got '%s'.", extension.c_str());
  }
  switch (extension[0]) {
    case 'S':
      file_type = cftSEQ;
      return {};
    case 'P':
      file_type = cftPRG;
      return {};
    case 'U':
      file_type = cftUSR;
      return {};
    case 'R':
      file_type = cftREL;
      return {};
    default:
      return Format("PC64 extension must start with P/S/U/R; got '%c'.", extension[0]);
  }
}

std::string DkPcSidecarParse(const std::string& path, ByteView bytes, TDkPcSidecar& sidecar) {
  if (bytes.size() < static_cast<std::size_t>(kDkPcSidecarHeaderSize)) {
    return Format("Truncated sidecar file: %d bytes; header alone is %d.",
                  static_cast<int>(bytes.size()), kDkPcSidecarHeaderSize);
  }
  if (std::memcmp(bytes.data(), kSignature, sizeof kSignature) != 0) {
    return "Invalid PC64 signature - expected \"C64File\\0\".";
  }
  const ByteView name = bytes.subspan(kNameOffset, kNameLength);
  sidecar.NameBytes.assign(name.begin(), name.end());
  sidecar.Name = HostName(name);
  sidecar.RecordLength = bytes[kRecordLengthOffset];
  sidecar.Data.assign(bytes.begin() + kDkPcSidecarHeaderSize, bytes.end());
  return DkPcSidecarType(path, sidecar.FileType);
}

bool DkPcSidecarRead(const std::string& path, ByteView bytes, Bytes& name_bytes,
                     TDkCbmFileType& file_type, Bytes& data) {
  TDkCbmFileType type = cftDEL;
  if (!DkPcSidecarType(path, type).empty()) return false;
  TDkPcSidecar sidecar;
  if (!DkPcSidecarParse(path, bytes, sidecar).empty()) return false;
  const auto end = std::find_if(sidecar.NameBytes.begin(), sidecar.NameBytes.end(), EndsName);
  if (end == sidecar.NameBytes.begin()) return false;
  name_bytes.assign(sidecar.NameBytes.begin(), end);
  file_type = sidecar.FileType;
  data = std::move(sidecar.Data);
  return true;
}

}  // namespace kelvane
