#include "shell/win32/item_bytes.h"

#include <shlguid.h>

#include <algorithm>
#include <exception>

#include "formats/gcr.h"
#include "registry/registry.h"
#include "shell/win32/win_raii.h"

namespace kelvane::win {

namespace {

constexpr std::size_t kInitialBuffer = 65536;
// One byte more than the limit, so that a source holding more than the limit is noticed.
constexpr std::size_t kLargestBuffer = kKvMaxItemSize + 1;

constexpr GUID kBhidStream = {
    0x1cebb3ab, 0x7c10, 0x499a, {0xa4, 0x17, 0x92, 0xca, 0x16, 0xc4, 0xcb, 0x83}};

// Reads with `read` (which returns false on failure and sets the count it read) into a buffer
// that grows by doubling, until a read gives nothing.
template <typename ReadPiece>
bool ReadGrowing(std::size_t initial, ReadPiece read, Bytes& bytes) {
  Bytes buffer(std::min(initial, kLargestBuffer));
  std::size_t filled = 0;
  for (;;) {
    if (filled == buffer.size()) {
      if (buffer.size() >= kLargestBuffer) return false;
      buffer.resize(std::min(buffer.size() * 2, kLargestBuffer));
    }
    std::size_t got = 0;
    if (!read(buffer.data() + filled, buffer.size() - filled, got)) return false;
    if (got == 0) break;
    filled += std::min(got, buffer.size() - filled);
    if (filled > kKvMaxItemSize) return false;
  }
  buffer.resize(filled);
  bytes = std::move(buffer);
  return true;
}

std::string ToCodePage(const std::wstring& text) {
  if (text.empty()) return {};
  const int size = ::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  std::string out(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                        nullptr, nullptr);
  return out;
}

// Detection name and GCR step; false when the decoder rejects the bytes.
bool Finish(Bytes data, const std::wstring& name, std::wstring path, TKvItemBytes& out) {
  std::string detection = KvExtensionOf(name);
  try {
    KvApplyGcrStep(data, detection);
  } catch (const std::exception&) {
    return false;
  }
  out.Data = std::move(data);
  out.DetectionName = std::move(detection);
  out.Path = std::move(path);
  return true;
}

}  // namespace

std::string KvExtensionOf(const std::wstring& name) {
  const std::size_t slash = name.find_last_of(L"\\/");
  const std::size_t dot = name.find_last_of(L'.');
  if (dot == std::wstring::npos || (slash != std::wstring::npos && dot < slash)) return {};
  return ToCodePage(name.substr(dot));
}

void KvApplyGcrStep(Bytes& data, std::string& detection_name) {
  // A GCR image is known by its signature whatever its name; a NIB has only its extension.
  if (!DkHasGcrExtension(detection_name) &&
      DkDetectImageFormat("", data, static_cast<long long>(data.size())) != cifG64) {
    return;
  }
  TDkGcrConversion converted = DkGcrImageToD64(data, detection_name);
  data = std::move(converted.ImageBytes);
  detection_name = DkGcrDecodedExtension(converted.DoubleSided);
}

bool KvReadInitStream(IStream* stream, Bytes& data, std::string& detection_name, bool& too_large) {
  too_large = false;
  std::wstring name;
  STATSTG stat{};
  if (SUCCEEDED(stream->Stat(&stat, STATFLAG_DEFAULT))) {
    const TaskString stat_name(stat.pwcsName);
    if (stat_name) name = stat_name.get();
    too_large = stat.cbSize.QuadPart > kKvMaxItemSize;
    if (too_large) return false;
  }
  if (!KvReadWholeStream(stream, data)) return false;
  detection_name = KvExtensionOf(name);
  return true;
}

bool KvReadWholeStream(IStream* stream, Bytes& bytes) {
  LARGE_INTEGER start{};
  stream->Seek(start, STREAM_SEEK_SET, nullptr);  // a stream that cannot seek is read as it is
  return ReadGrowing(
      kInitialBuffer,
      [stream](std::uint8_t* at, std::size_t room, std::size_t& got) {
        ULONG read = 0;
        const ULONG ask = static_cast<ULONG>(std::min<std::size_t>(room, 0x40000000));
        const HRESULT result = stream->Read(at, ask, &read);
        if (FAILED(result)) return false;
        got = std::min<std::size_t>(read, ask);
        return true;
      },
      bytes);
}

HRESULT KvReadFileItem(const std::wstring& path, TKvItemBytes& out) {
  const UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return E_FAIL;
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file.get(), &size) || size.QuadPart < 0 ||
      static_cast<std::uint64_t>(size.QuadPart) > kKvMaxItemSize) {
    return E_FAIL;
  }
  const std::size_t initial =
      std::max<std::size_t>(static_cast<std::size_t>(size.QuadPart) + 1, kInitialBuffer);
  Bytes data;
  const bool read = ReadGrowing(
      initial,
      [&file](std::uint8_t* at, std::size_t room, std::size_t& got) {
        DWORD count = 0;
        const DWORD ask = static_cast<DWORD>(std::min<std::size_t>(room, 0x40000000));
        if (!::ReadFile(file.get(), at, ask, &count, nullptr)) return false;
        got = std::min<std::size_t>(count, ask);
        return true;
      },
      data);
  if (!read) return E_FAIL;
  return Finish(std::move(data), path, path, out) ? S_OK : E_FAIL;
}

HRESULT KvReadStreamItem(IShellItem* item, TKvItemBytes& out) {
  IStream* raw = nullptr;
  if (FAILED(
          item->BindToHandler(nullptr, kBhidStream, IID_IStream, reinterpret_cast<void**>(&raw))) ||
      raw == nullptr) {
    return E_FAIL;
  }
  struct Release {
    IStream* stream;
    ~Release() { stream->Release(); }
  } release{raw};

  std::wstring name;
  STATSTG stat{};
  if (SUCCEEDED(raw->Stat(&stat, STATFLAG_DEFAULT))) {
    const TaskString stat_name(stat.pwcsName);
    if (stat_name) name = stat_name.get();
    if (stat.cbSize.QuadPart > kKvMaxItemSize) return E_FAIL;
  }
  if (name.empty()) {
    wchar_t* display = nullptr;
    if (SUCCEEDED(item->GetDisplayName(SIGDN_PARENTRELATIVEPARSING, &display))) {
      const TaskString owned(display);
      if (owned) name = owned.get();
    }
  }
  Bytes data;
  if (!KvReadWholeStream(raw, data)) return E_FAIL;
  return Finish(std::move(data), name, std::wstring(), out) ? S_OK : E_FAIL;
}

}  // namespace kelvane::win
