#include "win32/drag_support.h"

#include <shlobj.h>

#include <algorithm>
#include <cstring>

#include "shell/preview_paint.h"
#include "shell/win32/data_object.h"
#include "shell/win32/dib.h"

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

Bytes ExpectedBanner(const std::wstring& text, int width, int height, int dpi) {
  const int band_height = std::min(height, KvScaled(22, dpi));
  const int row_height = KvRowHeight(KvScaleFromDpi(dpi));
  const BITMAPINFO info = kelvane::win::KvTopDownInfo(width, band_height);
  const HDC dc = ::CreateCompatibleDC(nullptr);
  void* bits = nullptr;
  const HBITMAP bitmap = ::CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  const HGDIOBJ previous_bitmap = ::SelectObject(dc, bitmap);
  RECT band{0, 0, width, band_height};
  const HBRUSH brush = ::CreateSolidBrush(RGB(42, 42, 42));
  ::FillRect(dc, &band, brush);
  ::DeleteObject(brush);
  const HFONT font = ::CreateFontW(-KvScaled(11, dpi), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                                   DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                   DEFAULT_QUALITY, DEFAULT_PITCH, L"Segoe UI");
  const HGDIOBJ previous_font = ::SelectObject(dc, font);
  ::SetBkMode(dc, TRANSPARENT);
  ::SetTextColor(dc, RGB(0x6C, 0x6C, 0x6C));
  RECT area{row_height, 0, std::max(width - row_height, row_height), band_height};
  ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &area,
              DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS | DT_NOPREFIX);
  ::GdiFlush();
  const auto* begin = static_cast<const std::uint8_t*>(bits);
  Bytes pixels(begin, begin + static_cast<std::size_t>(width) * band_height * 4);
  ::SelectObject(dc, previous_font);
  ::DeleteObject(font);
  ::SelectObject(dc, previous_bitmap);
  ::DeleteObject(bitmap);
  ::DeleteDC(dc);
  return pixels;
}

}  // namespace kelvane::testing
