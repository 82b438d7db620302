#include "win32/drag_support.h"

#include <shlobj.h>

#include <cstring>

#include "shell/win32/data_object.h"

namespace kelvane::testing {

STDMETHODIMP FileListSource::QueryGetData(FORMATETC* format) {
  if (offer_files_ && format->cfFormat == CF_HDROP && (format->tymed & TYMED_HGLOBAL) != 0) {
    return S_OK;
  }
  if (!offer_files_ && format->cfFormat == CF_UNICODETEXT) return S_OK;
  return DV_E_FORMATETC;
}

STDMETHODIMP FileListSource::GetCanonicalFormatEtc(FORMATETC* in, FORMATETC* out) {
  *out = *in;
  out->ptd = nullptr;
  return DATA_S_SAMEFORMATETC;
}

STDMETHODIMP FileListSource::GetData(FORMATETC* format, STGMEDIUM* medium) {
  *medium = STGMEDIUM{};
  if (QueryGetData(format) != S_OK || format->cfFormat != CF_HDROP) return DV_E_FORMATETC;
  std::wstring list;
  for (const std::wstring& path : paths_) list += path + L'\0';
  list += L'\0';
  const std::size_t size = sizeof(DROPFILES) + list.size() * sizeof(wchar_t);
  HGLOBAL block = ::GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
  auto* at = static_cast<std::uint8_t*>(::GlobalLock(block));
  DROPFILES header{};
  header.pFiles = sizeof(DROPFILES);
  header.fWide = TRUE;
  std::memcpy(at, &header, sizeof(header));
  std::memcpy(at + sizeof(header), list.data(), list.size() * sizeof(wchar_t));
  ::GlobalUnlock(block);
  medium->tymed = TYMED_HGLOBAL;
  medium->hGlobal = block;
  return S_OK;
}

STDMETHODIMP RecordingTarget::DragEnter(IDataObject*, DWORD, POINTL, DWORD* effect) {
  record_.effect_offered = *effect;
  *effect &= DROPEFFECT_COPY;
  return S_OK;
}

STDMETHODIMP RecordingTarget::DragOver(DWORD, POINTL, DWORD* effect) {
  *effect &= DROPEFFECT_COPY;
  return S_OK;
}

STDMETHODIMP RecordingTarget::Drop(IDataObject* data, DWORD, POINTL, DWORD* effect) {
  ReadDragData(data, record_);
  record_.dropped = true;
  *effect = DROPEFFECT_COPY;
  return S_OK;
}

void ReadDragData(IDataObject* data, ReceivedDrop& record) {
  FORMATETC format{win::KvFileGroupDescriptorFormat(), nullptr, DVASPECT_CONTENT, -1,
                   TYMED_HGLOBAL};
  STGMEDIUM medium{};
  if (SUCCEEDED(data->GetData(&format, &medium))) {
    const auto* group = static_cast<const FILEGROUPDESCRIPTORW*>(::GlobalLock(medium.hGlobal));
    for (UINT i = 0; i < group->cItems; ++i) {
      const FILEDESCRIPTORW& d = group->fgd[i];
      record.descriptors.push_back({d.cFileName, d.nFileSizeLow,
                                    (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0,
                                    d.dwFlags});
    }
    ::GlobalUnlock(medium.hGlobal);
    ::ReleaseStgMedium(&medium);
  }
  for (std::size_t i = 0; i < record.descriptors.size(); ++i) {
    Bytes bytes;
    if (!record.descriptors[i].folder) {
      FORMATETC contents{win::KvFileContentsFormat(), nullptr, DVASPECT_CONTENT,
                         static_cast<LONG>(i), TYMED_ISTREAM | TYMED_HGLOBAL};
      STGMEDIUM got{};
      if (SUCCEEDED(data->GetData(&contents, &got)) && got.tymed == TYMED_ISTREAM) {
        std::uint8_t buffer[4096];
        ULONG read = 0;
        while (SUCCEEDED(got.pstm->Read(buffer, sizeof(buffer), &read)) && read > 0) {
          bytes.insert(bytes.end(), buffer, buffer + read);
        }
        ::ReleaseStgMedium(&got);
      }
    }
    record.contents.push_back(std::move(bytes));
  }
  FORMATETC hdrop{CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
  if (SUCCEEDED(data->GetData(&hdrop, &medium))) {
    const auto drop = static_cast<HDROP>(medium.hGlobal);
    const UINT count = ::DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count; ++i) {
      wchar_t path[1024] = {};
      ::DragQueryFileW(drop, i, path, 1024);
      record.hdrop.push_back(path);
    }
    ::ReleaseStgMedium(&medium);
  }
}

namespace {

void PumpMessages() {
  MSG message;
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
}

}  // namespace

bool RunPointer(const std::string& arguments) {
  // Wine starts the Unix program but its process handle never signals; the script leaves a
  // marker file under /tmp (Wine's Z: drive) when it is done instead.
  const std::string marker = "/tmp/kelvane-pointer-" + std::to_string(::GetCurrentProcessId());
  const std::wstring marker_path = L"Z:" + std::wstring(marker.begin(), marker.end());
  ::DeleteFileW(marker_path.c_str());
  const std::string script = "/bin/sh -c \"xdotool " + arguments + "; touch " + marker + "\"";
  std::wstring command(script.begin(), script.end());
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
    return false;
  }
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  const DWORD deadline = ::GetTickCount() + 30000;
  while (::GetTickCount() < deadline &&
         ::GetFileAttributesW(marker_path.c_str()) == INVALID_FILE_ATTRIBUTES) {
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    PumpMessages();
  }
  // Let the last input arrive.
  for (int k = 0; k < 10; ++k) {
    PumpMessages();
    ::Sleep(20);
  }
  return ::DeleteFileW(marker_path.c_str()) != 0;
}

}  // namespace kelvane::testing
