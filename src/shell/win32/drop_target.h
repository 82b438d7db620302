#pragma once

// Files dropped onto the preview: the OLE drop target on its window, which takes only shell
// file lists (CF_HDROP) and offers only copying, and the checks and conversions the handler
// decides with.

#include <oleidl.h>
#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "shell/win32/com_object.h"
#include "shell/win32/module.h"

namespace kelvane::win {

using TKvPathArray = std::vector<std::wstring>;

class TKvDropTarget final : public TKvComObject<IDropTarget> {
 public:
  using CanDropCallback = std::function<bool(IDataObject* data, DWORD key_state, POINTL point)>;
  // True when at least one file was written.
  using DropCallback = std::function<bool(const TKvPathArray& paths)>;

  TKvDropTarget(CanDropCallback on_can_drop, DropCallback on_drop);
  // Forgets both callbacks, so that a drop arriving after the window went does nothing.
  void Detach();

  STDMETHODIMP DragEnter(IDataObject* data, DWORD key_state, POINTL point, DWORD* effect) override;
  STDMETHODIMP DragOver(DWORD key_state, POINTL point, DWORD* effect) override;
  STDMETHODIMP DragLeave() override;
  STDMETHODIMP Drop(IDataObject* data, DWORD key_state, POINTL point, DWORD* effect) override;

 private:
  ~TKvDropTarget() override = default;
  LiveObject live_;
  CanDropCallback on_can_drop_;
  DropCallback on_drop_;
  bool accepting_ = false;
};

// Whether the data object offers a shell file list.
bool KvHasFileDrop(IDataObject* data);
// The dropped paths; false when there are none.
bool KvGetDroppedPaths(IDataObject* data, TKvPathArray& paths);
// The path in UTF-8, when it converts back to the same text (a lone surrogate, which NTFS allows
// in a name, does not).
bool KvToWriterPath(const std::wstring& path, std::string& writer_path);
// Why nothing may be dropped on this image; empty when files may be dropped.
std::wstring KvDropRefusal(const std::wstring& image_path, long long image_size);

inline constexpr wchar_t kKvArchiveRefusal[] =
    L"This image has no file of its own (it is inside an archive); nothing can be dropped on it.";
inline constexpr wchar_t kKvUnreadableRefusal[] =
    L"This image could not be read; nothing can be dropped on it.";

// UTF-8 text as UTF-16.
std::wstring KvFromUtf8(const std::string& text);

}  // namespace kelvane::win
