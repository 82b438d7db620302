#pragma once

// Test-side OLE objects for drags in and out of the preview: a data object offering a shell file
// list, a drop source for the real pointer, and a drop target that records what it was given.

#include <oleidl.h>
#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "shell/win32/com_object.h"

namespace kelvane::testing {

// Offers CF_HDROP of `paths` (or, with `offer_files` false, only plain text).
class FileListSource final : public win::TKvComObject<IDataObject> {
 public:
  FileListSource(std::vector<std::wstring> paths, bool offer_files = true)
      : paths_(std::move(paths)), offer_files_(offer_files) {}
  STDMETHODIMP GetData(FORMATETC* format, STGMEDIUM* medium) override;
  STDMETHODIMP GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
  STDMETHODIMP QueryGetData(FORMATETC* format) override;
  STDMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) override;
  STDMETHODIMP SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
  STDMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override {
    return OLE_E_ADVISENOTSUPPORTED;
  }
  STDMETHODIMP DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
  STDMETHODIMP EnumDAdvise(IEnumSTATDATA**) override { return OLE_E_ADVISENOTSUPPORTED; }

 private:
  ~FileListSource() override = default;
  std::vector<std::wstring> paths_;
  bool offer_files_;
};

class ButtonDropSource final : public win::TKvComObject<IDropSource> {
 public:
  STDMETHODIMP QueryContinueDrag(BOOL escape, DWORD keys) override {
    if (escape) return DRAGDROP_S_CANCEL;
    return (keys & MK_LBUTTON) == 0 ? DRAGDROP_S_DROP : S_OK;
  }
  STDMETHODIMP GiveFeedback(DWORD) override { return DRAGDROP_S_USEDEFAULTCURSORS; }

 private:
  ~ButtonDropSource() override = default;
};

// What a drop on the recording target delivered.
struct ReceivedDrop {
  bool dropped = false;
  DWORD effect_offered = 0;
  // From "FileGroupDescriptorW": name, size, folder flag, the descriptor's flags.
  struct Descriptor {
    std::wstring name;
    DWORD size = 0;
    bool folder = false;
    DWORD flags = 0;
  };
  std::vector<Descriptor> descriptors;
  std::vector<Bytes> contents;      // "FileContents" per descriptor (empty for folders)
  std::vector<std::wstring> hdrop;  // CF_HDROP paths
};

class RecordingTarget final : public win::TKvComObject<IDropTarget> {
 public:
  explicit RecordingTarget(ReceivedDrop& record) : record_(record) {}
  STDMETHODIMP DragEnter(IDataObject*, DWORD, POINTL, DWORD* effect) override;
  STDMETHODIMP DragOver(DWORD, POINTL, DWORD* effect) override;
  STDMETHODIMP DragLeave() override { return S_OK; }
  STDMETHODIMP Drop(IDataObject* data, DWORD, POINTL, DWORD* effect) override;

 private:
  ~RecordingTarget() override = default;
  ReceivedDrop& record_;
};

// Reads everything a drag data object offers the way a shell folder would.
void ReadDragData(IDataObject* data, ReceivedDrop& record);

// Runs xdotool on the X display with `arguments` and waits for it, pumping window messages
// meanwhile (a drag runs its modal loop inside them); false when it could not start.
bool RunPointer(const std::string& arguments);

}  // namespace kelvane::testing
