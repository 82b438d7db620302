#pragma once

// Dragging entries out of the preview: the data object that offers the drag list to the drop
// target ("FileGroupDescriptorW" with "FileContents" from memory, or CF_HDROP of real files
// written into a transfer folder under the temporary folder's "Kelvane\"), its format
// enumerator, and the drop source.

#include <objidl.h>
#include <oleidl.h>
#include <windows.h>

#include <atomic>
#include <string>

#include "shell/drag_files.h"
#include "shell/win32/com_object.h"
#include "shell/win32/module.h"

namespace kelvane::win {

// The registered clipboard formats "FileGroupDescriptorW" and "FileContents".
CLIPFORMAT KvFileGroupDescriptorFormat();
CLIPFORMAT KvFileContentsFormat();

// The temporary folder followed by "Kelvane\"; empty when there is no usable temporary folder.
std::wstring KvTemporaryRoot();
// Deletes the transfer folders under `root` that are older than ten minutes and not in use by a
// live data object; never enters or deletes a reparse point or a folder whose name is no GUID.
void KvSweepTransferFolders(const std::wstring& root);
// Deletes `folder` (root + GUID + "\") with everything in it, links only unlinked; false when
// the folder is not such a transfer folder.
bool KvDeleteTransferFolder(const std::wstring& root, const std::wstring& folder);
// Whether a folder is in use by a live data object.
bool KvIsLiveTransferFolder(const std::wstring& folder);

class TKvDataObject final : public TKvComObject<IDataObject> {
 public:
  // `root` is the folder the transfer folders go under (KvTransferRoot); empty for none.
  TKvDataObject(TKvDragFileArray files, std::wstring root);

  STDMETHODIMP GetData(FORMATETC* format, STGMEDIUM* medium) override;
  STDMETHODIMP GetDataHere(FORMATETC* format, STGMEDIUM* medium) override;
  STDMETHODIMP QueryGetData(FORMATETC* format) override;
  STDMETHODIMP GetCanonicalFormatEtc(FORMATETC* in, FORMATETC* out) override;
  STDMETHODIMP SetData(FORMATETC* format, STGMEDIUM* medium, BOOL release) override;
  STDMETHODIMP EnumFormatEtc(DWORD direction, IEnumFORMATETC** out) override;
  STDMETHODIMP DAdvise(FORMATETC* format, DWORD flags, IAdviseSink* sink,
                       DWORD* connection) override;
  STDMETHODIMP DUnadvise(DWORD connection) override;
  STDMETHODIMP EnumDAdvise(IEnumSTATDATA** out) override;

  const std::wstring& TransferFolder() const { return transfer_folder_; }

 private:
  ~TKvDataObject() override;
  HRESULT CheckFormat(const FORMATETC* format, bool query) const;
  HRESULT MakeTransferFolder();

  LiveObject live_;
  TKvDragFileArray files_;
  std::wstring root_;
  std::wstring transfer_folder_;
};

class TKvFormatEnum final : public TKvComObject<IEnumFORMATETC> {
 public:
  explicit TKvFormatEnum(ULONG position = 0) : position_(position) {}

  STDMETHODIMP Next(ULONG count, FORMATETC* formats, ULONG* fetched) override;
  STDMETHODIMP Skip(ULONG count) override;
  STDMETHODIMP Reset() override;
  STDMETHODIMP Clone(IEnumFORMATETC** out) override;

 private:
  ~TKvFormatEnum() override = default;
  LiveObject live_;
  ULONG position_;
};

class TKvDropSource final : public TKvComObject<IDropSource> {
 public:
  TKvDropSource() = default;

  STDMETHODIMP QueryContinueDrag(BOOL escape_pressed, DWORD key_state) override;
  STDMETHODIMP GiveFeedback(DWORD effect) override;

 private:
  ~TKvDropSource() override = default;
  LiveObject live_;
};

}  // namespace kelvane::win
