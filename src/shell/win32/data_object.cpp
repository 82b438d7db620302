#include "shell/win32/data_object.h"

#include <shlobj.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "shell/win32/win_raii.h"

namespace kelvane::win {

namespace {

constexpr int kFormatCount = 3;
// Ten minutes in 100-nanosecond units.
constexpr ULONGLONG kStaleAge = 6000000000ULL;

static_assert(sizeof(FILEDESCRIPTORW) == 592, "FILEDESCRIPTORW as the shell lays it out");
static_assert(sizeof(DROPFILES) == 20, "DROPFILES as the shell lays it out");

// Transfer folders of live data objects; used on the drag loop's thread only.
std::vector<std::wstring>& LiveFolders() {
  static std::vector<std::wstring> folders;
  return folders;
}

void ForgetLive(const std::wstring& folder) {
  auto& live = LiveFolders();
  live.erase(std::remove(live.begin(), live.end(), folder), live.end());
}

FORMATETC FormatAt(ULONG position) {
  FORMATETC format{};
  format.dwAspect = DVASPECT_CONTENT;
  format.lindex = -1;
  switch (position) {
    case 0:
      format.cfFormat = KvFileGroupDescriptorFormat();
      format.tymed = TYMED_HGLOBAL;
      break;
    case 1:
      format.cfFormat = KvFileContentsFormat();
      format.tymed = TYMED_ISTREAM;
      break;
    default:
      format.cfFormat = CF_HDROP;
      format.tymed = TYMED_HGLOBAL;
      break;
  }
  return format;
}

// A movable, zero-filled global block of `size` bytes with `fill` writing into it.
template <typename Fill>
HGLOBAL MakeGlobal(std::size_t size, Fill fill) {
  HGLOBAL block = ::GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
  if (block == nullptr) return nullptr;
  void* memory = ::GlobalLock(block);
  if (memory == nullptr) {
    ::GlobalFree(block);
    return nullptr;
  }
  fill(static_cast<std::uint8_t*>(memory));
  ::GlobalUnlock(block);
  return block;
}

DWORD AttributesOf(const std::wstring& path) {
  return ::GetFileAttributesW(path.c_str());
}

bool IsPlainFolder(const std::wstring& path) {
  const DWORD attributes = AttributesOf(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
         (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

// Empties `folder` (ending in "\"): files are unlocked and deleted, links deleted as they are,
// sub-folders emptied and removed, linked folders removed without being entered.
void EmptyFolder(const std::wstring& folder) {
  WIN32_FIND_DATAW found{};
  const HANDLE search = ::FindFirstFileW((folder + L"*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    const std::wstring path = folder + name;
    const bool link = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      if (!link) EmptyFolder(path + L"\\");
      ::RemoveDirectoryW(path.c_str());
    } else {
      if (!link) ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
      ::DeleteFileW(path.c_str());
    }
  } while (::FindNextFileW(search, &found));
  ::FindClose(search);
}

std::wstring ToWide(const std::u16string& text) {
  return std::wstring(text.begin(), text.end());
}

}  // namespace

CLIPFORMAT KvFileGroupDescriptorFormat() {
  static const auto format =
      static_cast<CLIPFORMAT>(::RegisterClipboardFormatW(L"FileGroupDescriptorW"));
  return format;
}

CLIPFORMAT KvFileContentsFormat() {
  static const auto format = static_cast<CLIPFORMAT>(::RegisterClipboardFormatW(L"FileContents"));
  return format;
}

std::wstring KvTemporaryRoot() {
  wchar_t buffer[261] = {};
  const DWORD length = ::GetTempPathW(261, buffer);
  if (length == 0 || length > 260) return {};
  std::wstring root(buffer, length);
  if (root.back() != L'\\') root += L'\\';
  return root + L"Kelvane\\";
}

bool KvIsLiveTransferFolder(const std::wstring& folder) {
  const auto& live = LiveFolders();
  return std::find(live.begin(), live.end(), folder) != live.end();
}

bool KvDeleteTransferFolder(const std::wstring& root, const std::wstring& folder) {
  if (root.empty() || folder.size() != root.size() + 37 ||
      folder.compare(0, root.size(), root) != 0 || folder.back() != L'\\') {
    return false;
  }
  const std::wstring name = folder.substr(root.size(), 36);
  if (!KvIsGuidName(std::u16string(name.begin(), name.end()))) return false;
  if (!IsPlainFolder(root) || !IsPlainFolder(folder)) return false;
  EmptyFolder(folder);
  return ::RemoveDirectoryW(folder.c_str()) != 0;
}

void KvSweepTransferFolders(const std::wstring& root) {
  if (root.empty() || !IsPlainFolder(root)) return;
  FILETIME now{};
  ::GetSystemTimeAsFileTime(&now);
  const ULONGLONG cutoff =
      ((static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime) - kStaleAge;
  std::vector<std::wstring> stale;
  WIN32_FIND_DATAW found{};
  const HANDLE search = ::FindFirstFileW((root + L"*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    const std::wstring name = found.cFileName;
    const ULONGLONG created = (static_cast<ULONGLONG>(found.ftCreationTime.dwHighDateTime) << 32) |
                              found.ftCreationTime.dwLowDateTime;
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
        !KvIsGuidName(std::u16string(name.begin(), name.end())) || created >= cutoff) {
      continue;
    }
    const std::wstring folder = root + name + L"\\";
    if (!KvIsLiveTransferFolder(folder)) stale.push_back(folder);
  } while (::FindNextFileW(search, &found));
  ::FindClose(search);
  for (const std::wstring& folder : stale) KvDeleteTransferFolder(root, folder);
}

// ---- TKvDataObject

TKvDataObject::TKvDataObject(TKvDragFileArray files, std::wstring root)
    : files_(std::move(files)), root_(std::move(root)) {
  KvSweepTransferFolders(root_);
}

TKvDataObject::~TKvDataObject() {
  // The drop target may still be copying from the folder; a later sweep deletes it.
  if (!transfer_folder_.empty()) ForgetLive(transfer_folder_);
}

HRESULT TKvDataObject::CheckFormat(const FORMATETC* format, bool query) const {
  if (format->dwAspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  if (format->cfFormat == KvFileGroupDescriptorFormat()) {
    return (format->tymed & TYMED_HGLOBAL) != 0 ? S_OK : DV_E_TYMED;
  }
  if (format->cfFormat == KvFileContentsFormat()) {
    if ((format->tymed & (TYMED_HGLOBAL | TYMED_ISTREAM)) == 0) return DV_E_TYMED;
    if (query && format->lindex == -1) return files_.empty() ? DV_E_LINDEX : S_OK;
    const LONG index = format->lindex;
    if (index < 0 || static_cast<std::size_t>(index) >= files_.size() ||
        files_[static_cast<std::size_t>(index)].IsDirectory) {
      return DV_E_LINDEX;
    }
    return S_OK;
  }
  if (format->cfFormat == CF_HDROP && !files_.empty()) {
    return (format->tymed & TYMED_HGLOBAL) != 0 ? S_OK : DV_E_TYMED;
  }
  return DV_E_FORMATETC;
}

STDMETHODIMP TKvDataObject::QueryGetData(FORMATETC* format) {
  if (format == nullptr) return E_INVALIDARG;
  return CheckFormat(format, true);
}

STDMETHODIMP TKvDataObject::GetData(FORMATETC* format, STGMEDIUM* medium) {
  if (format == nullptr || medium == nullptr) return E_INVALIDARG;
  *medium = STGMEDIUM{};
  try {
    const HRESULT check = CheckFormat(format, false);
    if (check != S_OK) return check;

    if (format->cfFormat == KvFileGroupDescriptorFormat()) {
      const std::size_t count = files_.size();
      const HGLOBAL block = MakeGlobal(
          4 + sizeof(FILEDESCRIPTORW) * std::max<std::size_t>(count, 1), [&](std::uint8_t* at) {
            const auto file_count = static_cast<UINT>(count);
            std::memcpy(at, &file_count, sizeof(file_count));
            for (std::size_t i = 0; i < count; ++i) {
              FILEDESCRIPTORW descriptor{};
              descriptor.dwFlags = FD_ATTRIBUTES | FD_FILESIZE | FD_PROGRESSUI;
              descriptor.dwFileAttributes =
                  files_[i].IsDirectory ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
              descriptor.nFileSizeLow = static_cast<DWORD>(files_[i].Bytes.size());
              const std::u16string& path = files_[i].Path;
              std::copy_n(path.begin(), std::min<std::size_t>(path.size(), MAX_PATH - 1),
                          descriptor.cFileName);
              std::memcpy(at + 4 + i * sizeof(FILEDESCRIPTORW), &descriptor, sizeof(descriptor));
            }
          });
      if (block == nullptr) return E_OUTOFMEMORY;
      medium->tymed = TYMED_HGLOBAL;
      medium->hGlobal = block;
      return S_OK;
    }

    if (format->cfFormat == KvFileContentsFormat()) {
      const Bytes& bytes = files_[static_cast<std::size_t>(format->lindex)].Bytes;
      if ((format->tymed & TYMED_ISTREAM) != 0) {
        IStream* stream = nullptr;
        if (FAILED(::CreateStreamOnHGlobal(nullptr, TRUE, &stream)) || stream == nullptr) {
          return E_OUTOFMEMORY;
        }
        ULONG written = 0;
        if (!bytes.empty() &&
            (FAILED(stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written)) ||
             written != bytes.size())) {
          stream->Release();
          return E_OUTOFMEMORY;
        }
        LARGE_INTEGER start{};
        stream->Seek(start, STREAM_SEEK_SET, nullptr);
        medium->tymed = TYMED_ISTREAM;
        medium->pstm = stream;
        return S_OK;
      }
      const HGLOBAL block =
          MakeGlobal(std::max<std::size_t>(bytes.size(), 1), [&](std::uint8_t* at) {
            if (!bytes.empty()) std::memcpy(at, bytes.data(), bytes.size());
          });
      if (block == nullptr) return E_OUTOFMEMORY;
      medium->tymed = TYMED_HGLOBAL;
      medium->hGlobal = block;
      return S_OK;
    }

    // CF_HDROP: real files in the transfer folder, the top-level ones listed.
    if (FAILED(MakeTransferFolder())) return E_FAIL;
    std::wstring list;
    for (const TKvDragFile& file : files_) {
      if (file.Path.find(u'\\') != std::u16string::npos) continue;
      list += transfer_folder_ + ToWide(file.Path);
      list += L'\0';
    }
    list += L'\0';
    const HGLOBAL block =
        MakeGlobal(sizeof(DROPFILES) + list.size() * sizeof(wchar_t), [&](std::uint8_t* at) {
          DROPFILES header{};
          header.pFiles = sizeof(DROPFILES);
          header.fWide = TRUE;
          std::memcpy(at, &header, sizeof(header));
          std::memcpy(at + sizeof(header), list.data(), list.size() * sizeof(wchar_t));
        });
    if (block == nullptr) return E_OUTOFMEMORY;
    medium->tymed = TYMED_HGLOBAL;
    medium->hGlobal = block;
    return S_OK;
  } catch (...) {
    *medium = STGMEDIUM{};
    return E_OUTOFMEMORY;
  }
}

HRESULT TKvDataObject::MakeTransferFolder() {
  if (!transfer_folder_.empty()) return S_OK;
  if (root_.empty()) return E_FAIL;
  ::CreateDirectoryW(root_.c_str(), nullptr);  // an existing root is fine
  GUID guid{};
  if (FAILED(::CoCreateGuid(&guid))) return E_FAIL;
  wchar_t text[40] = {};
  if (::StringFromGUID2(guid, text, 40) != 39) return E_FAIL;
  const std::wstring folder = root_ + std::wstring(text + 1, 36) + L"\\";
  if (!::CreateDirectoryW(folder.c_str(), nullptr)) return E_FAIL;
  LiveFolders().push_back(folder);
  for (const TKvDragFile& file : files_) {
    const std::wstring path = folder + ToWide(file.Path);
    bool ok = false;
    if (file.IsDirectory) {
      ok = ::CreateDirectoryW(path.c_str(), nullptr) != 0;
    } else {
      const UniqueFile out(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
      DWORD written = 0;
      ok = static_cast<bool>(out) &&
           (file.Bytes.empty() ||
            (::WriteFile(out.get(), file.Bytes.data(), static_cast<DWORD>(file.Bytes.size()),
                         &written, nullptr) &&
             written == file.Bytes.size()));
    }
    if (!ok) {
      ForgetLive(folder);
      KvDeleteTransferFolder(root_, folder);
      return E_FAIL;
    }
  }
  transfer_folder_ = folder;
  return S_OK;
}

STDMETHODIMP TKvDataObject::GetDataHere(FORMATETC*, STGMEDIUM*) {
  return E_NOTIMPL;
}

STDMETHODIMP TKvDataObject::GetCanonicalFormatEtc(FORMATETC* in, FORMATETC* out) {
  if (in == nullptr || out == nullptr) return E_INVALIDARG;
  *out = *in;
  out->ptd = nullptr;
  return DATA_S_SAMEFORMATETC;
}

STDMETHODIMP TKvDataObject::SetData(FORMATETC*, STGMEDIUM*, BOOL) {
  return E_NOTIMPL;
}

STDMETHODIMP TKvDataObject::EnumFormatEtc(DWORD direction, IEnumFORMATETC** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (direction != DATADIR_GET) return E_NOTIMPL;
  *out = new (std::nothrow) TKvFormatEnum(0);
  return *out != nullptr ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP TKvDataObject::DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD* connection) {
  if (connection != nullptr) *connection = 0;
  return OLE_E_ADVISENOTSUPPORTED;
}

STDMETHODIMP TKvDataObject::DUnadvise(DWORD) {
  return OLE_E_ADVISENOTSUPPORTED;
}

STDMETHODIMP TKvDataObject::EnumDAdvise(IEnumSTATDATA** out) {
  if (out != nullptr) *out = nullptr;
  return OLE_E_ADVISENOTSUPPORTED;
}

// ---- TKvFormatEnum

STDMETHODIMP TKvFormatEnum::Next(ULONG count, FORMATETC* formats, ULONG* fetched) {
  if (formats == nullptr && count > 0) return E_POINTER;
  ULONG given = 0;
  while (given < count && position_ < kFormatCount) formats[given++] = FormatAt(position_++);
  if (fetched != nullptr) *fetched = given;
  return given == count ? S_OK : S_FALSE;
}

STDMETHODIMP TKvFormatEnum::Skip(ULONG count) {
  position_ = std::min<ULONG>(kFormatCount, position_ + std::min<ULONG>(count, kFormatCount));
  return position_ == kFormatCount ? S_FALSE : S_OK;
}

STDMETHODIMP TKvFormatEnum::Reset() {
  position_ = 0;
  return S_OK;
}

STDMETHODIMP TKvFormatEnum::Clone(IEnumFORMATETC** out) {
  if (out == nullptr) return E_POINTER;
  *out = new (std::nothrow) TKvFormatEnum(position_);
  return *out != nullptr ? S_OK : E_OUTOFMEMORY;
}

// ---- TKvDropSource

STDMETHODIMP TKvDropSource::QueryContinueDrag(BOOL escape_pressed, DWORD key_state) {
  if (escape_pressed) return DRAGDROP_S_CANCEL;
  return (key_state & MK_LBUTTON) == 0 ? DRAGDROP_S_DROP : S_OK;
}

STDMETHODIMP TKvDropSource::GiveFeedback(DWORD) {
  return DRAGDROP_S_USEDEFAULTCURSORS;
}

}  // namespace kelvane::win
