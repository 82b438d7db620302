#pragma once

// The preview handler: the COM object the shell's preview host creates, initialises with the
// selected item, gives a parent window and asks to preview. It owns the item's bytes, the
// rendered listing, the row model and selection, and the child window that shows them.

#include <objidl.h>
#include <ocidl.h>
#include <oleidl.h>
#include <shobjidl.h>
#include <windows.h>
#include <wrl/client.h>

#include <array>
#include <atomic>
#include <string>

#include "common/bytes.h"
#include "render/icons.h"
#include "render/listing_render.h"
#include "shell/preview_paint.h"
#include "shell/row_model.h"
#include "shell/win32/drop_target.h"
#include "shell/win32/module.h"
#include "shell/win32/win_raii.h"

namespace kelvane::win {

// The window class of the preview's child window.
inline constexpr wchar_t kKvPreviewWindowClass[] = L"KvPreviewHandlerWnd";

// The window's memory device context and the DIB section painted into before the copy to the
// screen; rebuilt only when the client size changes.
struct TKvBackBuffer {
  UniqueDc Dc;
  UniqueBitmap Bitmap;
  HGDIOBJ Previous = nullptr;
  int Width = 0;
  int Height = 0;
  void Free();
};

// The capacity of this thread's spare listing buffer (kept between renders; 0 once the thread's
// last handler is gone).
std::size_t KvSparePixelCapacity();

// COM interfaces have no virtual destructor by design: objects delete themselves in Release.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
class TKvPreviewHandler final : public IPreviewHandler,
                                public IInitializeWithItem,
                                public IObjectWithSite,
                                public IOleWindow,
                                public IPreviewHandlerVisuals {
 public:
  TKvPreviewHandler();
  ~TKvPreviewHandler();
  TKvPreviewHandler(const TKvPreviewHandler&) = delete;
  TKvPreviewHandler& operator=(const TKvPreviewHandler&) = delete;

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  // IPreviewHandler
  STDMETHODIMP SetWindow(HWND parent, const RECT* rect) override;
  STDMETHODIMP SetRect(const RECT* rect) override;
  STDMETHODIMP DoPreview() override;
  STDMETHODIMP Unload() override;
  STDMETHODIMP SetFocus() override;
  STDMETHODIMP QueryFocus(HWND* window) override;
  STDMETHODIMP TranslateAccelerator(MSG* message) override;

  // IInitializeWithItem
  STDMETHODIMP Initialize(IShellItem* item, DWORD mode) override;

  // IObjectWithSite
  STDMETHODIMP SetSite(IUnknown* site) override;
  STDMETHODIMP GetSite(REFIID iid, void** out) override;

  // IOleWindow
  STDMETHODIMP GetWindow(HWND* window) override;
  STDMETHODIMP ContextSensitiveHelp(BOOL enter) override;

  // IPreviewHandlerVisuals: the host's background colour fills the pane around the listing; its
  // font and text colour are taken and not used (the listing is drawn in the machine's glyphs).
  STDMETHODIMP SetBackgroundColor(COLORREF color) override;
  STDMETHODIMP SetFont(const LOGFONTW* font) override;
  STDMETHODIMP SetTextColor(COLORREF color) override;

  // Used by the window procedure.
  bool RenderInto(int rows, TDkRenderImage& image) const;
  void SetImage(TDkRenderImage image, int rows);
  void ScrollTo(int y);
  void ScrollIntoView(int entry);
  void SetBanner(std::wstring text);
  void ToggleCharset();
  // Drags the selected entries out of the window: their files are read from the image first,
  // then the drag loop runs (modally) with copying as the only effect.
  void StartDrag();

  // The drop target's two questions: may this drag be dropped here (a refusal is shown in the
  // banner), and write these dropped files into the image (true when any was written).
  bool CanDrop(IDataObject* data);
  bool DropFiles(const TKvPathArray& paths);

  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  static bool RegisterPreviewClass(bool check_again = false);
  static void UnregisterPreviewClass();

 private:
  struct DragState {
    bool Armed = false;
    bool DeferredCollapse = false;
    bool DeferredDeselect = false;
    int PressX = 0;
    int PressY = 0;
    int PressEntry = -1;
  };

  int ClientHeight() const { return rect_.bottom - rect_.top; }
  int RowHeight() const { return KvRowHeight(scale_); }
  int ViewHeight() const;
  int LargestScroll() const;
  bool Readable() const { return row_model_.Loaded && render_ok_; }
  bool ButtonExists() const { return render_ok_ && image_.Width >= 1; }
  TKvRect ButtonRect() const;
  void ClampScroll();
  void Invalidate() const;
  HBRUSH BackgroundBrush() const;
  void Reset();
  void MoveOwnWindow() const;
  // Reads the listing's rows and the row model from the image's bytes (one reading for both).
  void ReadListing();
  // Reads the DPI of the parent window; true when it changed (and with it the scale).
  bool ReadDpi();
  // The parent's DPI changed (it moved to another monitor): re-scales and re-renders, keeping
  // the selection and the entry at the top.
  void DpiChanged();
  // Drag and drop side (preview_drag_drop.cpp).
  void RegisterDropTarget();
  void RevokeDropTarget();
  // OLE stays initialised on the handler's thread from its first drop target to Unload.
  void ReleaseOle();
  // Reads the image file again after a drop and selects the entries it gained.
  bool ReReadAfterDrop();

  // Window side (preview_window.cpp).
  LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam, bool& handled);
  void Paint(HDC target);
  void PaintContent(HDC dc, const RECT& client);
  void PaintButton(HDC dc, const TKvPixels& picture);
  void PaintBanner(HDC dc, const RECT& client) const;
  bool EnsureBackBuffer(int width, int height);
  void FocusChanged(bool focused);
  void HoverUpdate(int x, int y);
  void Press(int x, int y);
  void DragCheck(int x, int y);
  void ReleaseButton(int x, int y);
  void FinishPress(bool completed);
  void Wheel(int delta);
  bool KeyDown(int key, bool repeat);
  bool KeyUp(int key);
  bool ForwardToFrame(UINT message, WPARAM wparam, LPARAM lparam) const;
  bool ShiftDown() const;
  bool CtrlDown() const;
  void ReleaseOwnCapture() const;

  LiveObject live_;
  std::atomic<ULONG> references_{1};

  Bytes data_;
  std::string detection_name_;
  std::wstring image_path_;
  bool initialised_ = false;
  Microsoft::WRL::ComPtr<IUnknown> site_;
  Microsoft::WRL::ComPtr<IPreviewHandlerFrame> frame_;
  TRenderRows listing_;  // what is drawn, read once per preview
  TKvRowModel row_model_;
  TKvSelection selection_;
  bool focused_ = false;
  DragState drag_;
  HWND parent_ = nullptr;
  HWND window_ = nullptr;
  RECT rect_{};
  TDkRenderImage image_;
  int scroll_offset_ = 0;
  int scale_ = 2;
  int requested_rows_ = 0;
  bool complete_ = false;
  bool render_ok_ = false;
  int dpi_ = 96;
  std::wstring banner_;
  // The pane's colour outside the listing (0xRRGGBB) and its brush (the module's page brush
  // until the host gives a colour).
  std::uint32_t background_ = kDkPageBackground;
  UniqueBrush background_brush_;
  // Read once: below medium integrity the image, the settings key and the temporary folder may
  // not be written (integrity.h).
  bool low_integrity_ = false;
  Microsoft::WRL::ComPtr<TKvDropTarget> drop_target_;
  bool ole_initialised_ = false;
  bool busy_ = false;
  TDkCharset charset_ = csUpperGraphics;
  bool button_hover_ = false;
  bool button_pressed_ = false;
  std::array<TKvIconMask, 2> icon_masks_;
  bool chord_armed_ = false;
  TKvBackBuffer back_buffer_;
  Bytes scratch_;  // the tinted copy of the visible rows
};
#pragma GCC diagnostic pop

}  // namespace kelvane::win
