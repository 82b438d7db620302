#include "shell/win32/drop_target.h"

#include <shellapi.h>

#include "registry/registry.h"
#include "shell/drop_write.h"
#include "write/writer_select.h"

namespace kelvane::win {

namespace {

FORMATETC FileDropFormat() {
  FORMATETC format{};
  format.cfFormat = CF_HDROP;
  format.dwAspect = DVASPECT_CONTENT;
  format.lindex = -1;
  format.tymed = TYMED_HGLOBAL;
  return format;
}

DWORD CopyIfAccepting(bool accepting, DWORD offered) {
  return accepting ? (offered & DROPEFFECT_COPY) : DROPEFFECT_NONE;
}

}  // namespace

TKvDropTarget::TKvDropTarget(CanDropCallback on_can_drop, DropCallback on_drop)
    : on_can_drop_(std::move(on_can_drop)), on_drop_(std::move(on_drop)) {}

void TKvDropTarget::Detach() {
  on_can_drop_ = nullptr;
  on_drop_ = nullptr;
  accepting_ = false;
}

STDMETHODIMP TKvDropTarget::DragEnter(IDataObject* data, DWORD key_state, POINTL point,
                                      DWORD* effect) {
  try {
    accepting_ = on_can_drop_ != nullptr && on_can_drop_(data, key_state, point);
  } catch (...) {
    accepting_ = false;
  }
  if (effect != nullptr) *effect = CopyIfAccepting(accepting_, *effect);
  return S_OK;
}

STDMETHODIMP TKvDropTarget::DragOver(DWORD, POINTL, DWORD* effect) {
  if (effect != nullptr) *effect = CopyIfAccepting(accepting_, *effect);
  return S_OK;
}

STDMETHODIMP TKvDropTarget::DragLeave() {
  accepting_ = false;
  return S_OK;
}

STDMETHODIMP TKvDropTarget::Drop(IDataObject* data, DWORD, POINTL, DWORD* effect) {
  const DWORD requested = effect != nullptr ? *effect : DROPEFFECT_NONE;
  if (effect != nullptr) *effect = DROPEFFECT_NONE;
  try {
    TKvPathArray paths;
    if (accepting_ && (requested & DROPEFFECT_COPY) != 0 && on_drop_ != nullptr &&
        KvGetDroppedPaths(data, paths) && on_drop_ != nullptr && on_drop_(paths) &&
        effect != nullptr) {
      *effect = DROPEFFECT_COPY;
    }
  } catch (...) {
    if (effect != nullptr) *effect = DROPEFFECT_NONE;
  }
  accepting_ = false;
  return S_OK;
}

bool KvHasFileDrop(IDataObject* data) {
  if (data == nullptr) return false;
  FORMATETC format = FileDropFormat();
  return data->QueryGetData(&format) == S_OK;
}

bool KvGetDroppedPaths(IDataObject* data, TKvPathArray& paths) {
  paths.clear();
  if (data == nullptr) return false;
  FORMATETC format = FileDropFormat();
  STGMEDIUM medium{};
  if (FAILED(data->GetData(&format, &medium))) return false;
  if (medium.tymed != TYMED_HGLOBAL || medium.hGlobal == nullptr) {
    ::ReleaseStgMedium(&medium);
    return false;
  }
  const auto drop = static_cast<HDROP>(medium.hGlobal);
  const UINT count = ::DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
  for (UINT i = 0; i < count; ++i) {
    const UINT length = ::DragQueryFileW(drop, i, nullptr, 0);
    if (length == 0) continue;
    std::wstring path(length + 1, L'\0');
    const UINT got = ::DragQueryFileW(drop, i, path.data(), length + 1);
    path.resize(std::min(got, length));
    paths.push_back(std::move(path));
  }
  ::ReleaseStgMedium(&medium);
  return !paths.empty();
}

std::wstring KvFromUtf8(const std::string& text) {
  if (text.empty()) return {};
  const int size =
      ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (size <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
  return wide;
}

bool KvToWriterPath(const std::wstring& path, std::string& writer_path) {
  writer_path.clear();
  if (path.empty()) return false;
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, path.data(), static_cast<int>(path.size()),
                                         nullptr, 0, nullptr, nullptr);
  if (size <= 0) return false;
  std::string narrow(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), narrow.data(), size,
                        nullptr, nullptr);
  if (KvFromUtf8(narrow) != path) return false;
  writer_path = std::move(narrow);
  return true;
}

std::wstring KvDropRefusal(const std::wstring& image_path, long long image_size) {
  if (image_path.empty()) return kKvArchiveRefusal;
  std::string writer_path;
  if (!KvToWriterPath(image_path, writer_path)) {
    return L"This image's name has a character the writer cannot take; nothing can be dropped on "
           L"it.";
  }
  if (DkHasReadOnlyExtension(writer_path)) return KvFromUtf8(KvDropErrorText(deReadOnlyFormat));
  return KvFromUtf8(DkWriteBlockReason(writer_path, image_size));
}

}  // namespace kelvane::win
