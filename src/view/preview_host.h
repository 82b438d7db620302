#pragma once

// Hosting the preview handler the way the shell's preview host does: load the DLL, make the
// handler through DllGetClassObject (no registration needed), initialise it with a shell item,
// give it a site with a frame and a parent window, preview, resize, and unload. Used by
// kelvane-view and by the tests of the DLL.

#include <objidl.h>
#include <shobjidl.h>
#include <windows.h>
#include <wrl/client.h>

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "shell/win32/com_object.h"

namespace kelvane::view {

using Microsoft::WRL::ComPtr;

// Takes over the one reference `object` comes with. (mingw-w64's ComPtr::Attach adds a reference
// of its own, unlike the Windows SDK's, so it must not be used for this.)
template <typename T>
ComPtr<T> Adopt(T* object) {
  ComPtr<T> owner;
  *owner.GetAddressOf() = object;
  return owner;
}

// A shell item that has no file of its own, only a stream and a name, as an image inside an
// archive has.
class TKvStreamItem final : public win::TKvComObject<IShellItem> {
 public:
  TKvStreamItem(ComPtr<IStream> stream, std::wstring name);

  STDMETHODIMP BindToHandler(IBindCtx* context, REFGUID handler, REFIID iid, void** out) override;
  STDMETHODIMP GetParent(IShellItem** parent) override;
  STDMETHODIMP GetDisplayName(SIGDN kind, LPWSTR* name) override;
  STDMETHODIMP GetAttributes(SFGAOF mask, SFGAOF* attributes) override;
  STDMETHODIMP Compare(IShellItem* other, SICHINTF hint, int* order) override;

 private:
  ~TKvStreamItem() override = default;
  ComPtr<IStream> stream_;
  std::wstring name_;
};

// The site the handler is given, which is also its frame: it counts the keys offered to it and
// takes them when `take_keys` is set.
class TKvPreviewFrame final : public win::TKvComObject<IPreviewHandlerFrame> {
 public:
  TKvPreviewFrame() = default;

  STDMETHODIMP GetWindowContext(PREVIEWHANDLERFRAMEINFO* info) override;
  STDMETHODIMP TranslateAccelerator(MSG* message) override;

  int KeysOffered() const { return keys_offered_; }
  std::vector<MSG>& Offered() { return offered_; }
  bool take_keys = false;

 private:
  ~TKvPreviewFrame() override = default;
  int keys_offered_ = 0;
  std::vector<MSG> offered_;
};

// UTF-8 to UTF-16.
std::wstring Widen(const std::string& text);

// A memory stream holding `bytes` (its Stat has no name).
ComPtr<IStream> KvMemoryStream(const Bytes& bytes);

// The handler's window pixels (32-bit, blue green red alpha, top-down).
struct TKvWindowPixels {
  int Width = 0;
  int Height = 0;
  Bytes Pixels;
};

// Paints `window` into a DIB section with WM_PRINTCLIENT.
TKvWindowPixels KvCaptureWindow(HWND window);

// Writes the pixels as a 32-bit BMP; false when the file cannot be written.
bool KvWriteBmp(const std::wstring& path, const TKvWindowPixels& pixels);

class TKvPreviewHost {
 public:
  // Loads the DLL at `dll_path`; Ok() tells whether it and its DllGetClassObject were found.
  explicit TKvPreviewHost(const std::wstring& dll_path);
  ~TKvPreviewHost();
  TKvPreviewHost(const TKvPreviewHost&) = delete;
  TKvPreviewHost& operator=(const TKvPreviewHost&) = delete;

  bool Ok() const { return get_class_object_ != nullptr; }
  HMODULE Module() const { return module_; }
  // The DLL's class factory, asked for when first needed and kept until DropFactory.
  IClassFactory* Factory();
  void DropFactory() { factory_.Reset(); }

  // Makes a handler and previews the image at `path` (a Windows path) in `parent` at `rect`:
  // through a shell item for the file, or with `stream_only` through a stream item of its bytes.
  // Every step's result is kept in LastResult(); false when one failed.
  bool Open(const std::wstring& path, bool stream_only, HWND parent, const RECT& rect);
  // The same with an item of the caller's.
  bool OpenItem(IShellItem* item, HWND parent, const RECT& rect);
  void Resize(const RECT& rect);
  // The colour offered through IPreviewHandlerVisuals before DoPreview (Explorer offers its
  // theme's); none by default.
  std::optional<COLORREF> background;
  // Unload and release.
  void Close();

  IPreviewHandler* Handler() const { return handler_.Get(); }
  TKvPreviewFrame* Frame() const { return frame_.Get(); }
  HWND Window() const;
  HRESULT LastResult() const { return last_result_; }

 private:
  HMODULE module_ = nullptr;
  HRESULT(STDAPICALLTYPE* get_class_object_)(REFCLSID, REFIID, void**) = nullptr;
  ComPtr<IClassFactory> factory_;
  ComPtr<IPreviewHandler> handler_;
  ComPtr<TKvPreviewFrame> frame_;
  HRESULT last_result_ = S_OK;
};

// Tells the shell that file associations changed (SHCNE_ASSOCCHANGED), as Microsoft asks after
// shell extension handlers are registered or removed, so that Explorer takes them up at once.
void KvTellShellAssociationsChanged();

// The item for `path`: the shell's own for a file, or a stream item over the file's bytes.
ComPtr<IShellItem> KvItemForPath(const std::wstring& path, bool stream_only);

}  // namespace kelvane::view
