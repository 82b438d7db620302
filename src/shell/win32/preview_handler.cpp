#include "shell/win32/preview_handler.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "shell/win32/entry_points.h"
#include "shell/win32/integrity.h"
#include "shell/win32/item_bytes.h"

namespace kelvane::win {

namespace {

// ERROR_ALREADY_INITIALIZED as a result code.
constexpr HRESULT kAlreadyInitialised = HRESULT_FROM_WIN32(ERROR_ALREADY_INITIALIZED);

// A listing's pixels are megabytes, and where every fresh page of a large block costs a fault
// (Wine maps each such block anew) allocating them is most of a preview's start. The buffer of the
// listing let go last is kept for the next render on the same thread, and freed with the thread's
// last handler: the preview host is shared by every preview handler of the session.
constexpr std::size_t kLargestSparePixels = 64 * 1024 * 1024;
thread_local Bytes t_spare_pixels;
thread_local int t_handlers = 0;

void KeepSparePixels(Bytes&& pixels) {
  if (pixels.capacity() > 0 && pixels.capacity() <= kLargestSparePixels) {
    t_spare_pixels = std::move(pixels);
  }
  pixels = Bytes();
}

}  // namespace

void TKvBackBuffer::Free() {
  if (Dc && Previous != nullptr) ::SelectObject(Dc.get(), Previous);
  Previous = nullptr;
  Bitmap.reset();
  Dc.reset();
  Width = Height = 0;
}

TKvPreviewHandler::TKvPreviewHandler() : low_integrity_(KvRunsAtLowIntegrity()) {
  ++t_handlers;
  SelectionInit(selection_, row_model_);
}

TKvPreviewHandler::~TKvPreviewHandler() {
  try {
    Reset();
    ReleaseOle();
  } catch (...) {
  }
  if (t_handlers > 0) --t_handlers;
  if (t_handlers == 0) Bytes().swap(t_spare_pixels);
}

std::size_t KvSparePixelCapacity() {
  return t_spare_pixels.capacity();
}

STDMETHODIMP TKvPreviewHandler::QueryInterface(REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (iid == IID_IUnknown || iid == IID_IPreviewHandler) {
    *out = static_cast<IPreviewHandler*>(this);
  } else if (iid == IID_IInitializeWithItem) {
    *out = static_cast<IInitializeWithItem*>(this);
  } else if (iid == IID_IObjectWithSite) {
    *out = static_cast<IObjectWithSite*>(this);
  } else if (iid == IID_IOleWindow) {
    *out = static_cast<IOleWindow*>(this);
  } else if (iid == IID_IPreviewHandlerVisuals) {
    *out = static_cast<IPreviewHandlerVisuals*>(this);
  } else {
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) TKvPreviewHandler::AddRef() {
  return ++references_;
}

STDMETHODIMP_(ULONG) TKvPreviewHandler::Release() {
  const ULONG left = --references_;
  if (left == 0) delete this;
  return left;
}

// ---- IInitializeWithItem

STDMETHODIMP TKvPreviewHandler::Initialize(IShellItem* item, DWORD) {
  if (item == nullptr) return E_INVALIDARG;
  if (initialised_) return kAlreadyInitialised;
  try {
    std::wstring path;
    wchar_t* raw = nullptr;
    if (SUCCEEDED(item->GetDisplayName(SIGDN_FILESYSPATH, &raw))) {
      const TaskString owned(raw);
      if (owned) path = owned.get();
    }
    TKvItemBytes bytes;
    const HRESULT read = path.empty() ? KvReadStreamItem(item, bytes) : KvReadFileItem(path, bytes);
    if (SUCCEEDED(read)) {
      data_ = std::move(bytes.Data);
      detection_name_ = std::move(bytes.DetectionName);
      image_path_ = std::move(bytes.Path);
    } else {
      data_.clear();
      detection_name_.clear();
      image_path_.clear();
    }
  } catch (...) {
    data_.clear();
    detection_name_.clear();
    image_path_.clear();
  }
  initialised_ = true;
  return S_OK;
}

// ---- IObjectWithSite

STDMETHODIMP TKvPreviewHandler::SetSite(IUnknown* site) {
  site_ = site;
  frame_.Reset();
  if (site_) site_.As(&frame_);
  return S_OK;
}

STDMETHODIMP TKvPreviewHandler::GetSite(REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (!site_) return E_FAIL;
  return site_->QueryInterface(iid, out);
}

// ---- IOleWindow

STDMETHODIMP TKvPreviewHandler::GetWindow(HWND* window) {
  if (window == nullptr) return E_INVALIDARG;
  *window = window_;
  return window_ != nullptr ? S_OK : E_FAIL;
}

STDMETHODIMP TKvPreviewHandler::ContextSensitiveHelp(BOOL) {
  return E_NOTIMPL;
}

// ---- IPreviewHandlerVisuals

STDMETHODIMP TKvPreviewHandler::SetBackgroundColor(COLORREF color) {
  const std::uint32_t rgb = (static_cast<std::uint32_t>(GetRValue(color)) << 16) |
                            (static_cast<std::uint32_t>(GetGValue(color)) << 8) | GetBValue(color);
  if (background_brush_ && rgb == background_) return S_OK;
  UniqueBrush brush(::CreateSolidBrush(RGB(GetRValue(color), GetGValue(color), GetBValue(color))));
  if (!brush) return E_OUTOFMEMORY;
  background_ = rgb;
  background_brush_ = std::move(brush);
  Invalidate();
  return S_OK;
}

STDMETHODIMP TKvPreviewHandler::SetFont(const LOGFONTW*) {
  return S_OK;
}

STDMETHODIMP TKvPreviewHandler::SetTextColor(COLORREF) {
  return S_OK;
}

HBRUSH TKvPreviewHandler::BackgroundBrush() const {
  return background_brush_ ? background_brush_.get() : PageBrush();
}

// ---- IPreviewHandler

void TKvPreviewHandler::MoveOwnWindow() const {
  ::MoveWindow(window_, rect_.left, rect_.top, rect_.right - rect_.left, rect_.bottom - rect_.top,
               TRUE);
}

STDMETHODIMP TKvPreviewHandler::SetWindow(HWND parent, const RECT* rect) {
  if (rect == nullptr) return E_INVALIDARG;
  try {
    parent_ = parent;
    rect_ = *rect;
    if (window_ != nullptr && ::IsWindow(window_)) {
      ::SetParent(window_, parent_);
      MoveOwnWindow();
      DpiChanged();  // a new parent may be on another monitor
    }
    return S_OK;
  } catch (...) {
    return E_FAIL;
  }
}

STDMETHODIMP TKvPreviewHandler::SetRect(const RECT* rect) {
  if (rect == nullptr) return E_INVALIDARG;
  try {
    rect_ = *rect;
    if (window_ != nullptr && ::IsWindow(window_)) {
      MoveOwnWindow();
      const int rows = KvRowsNeeded(scroll_offset_, ClientHeight(), RowHeight());
      if (requested_rows_ < rows && !complete_) {
        TDkRenderImage image;
        if (RenderInto(rows, image)) SetImage(std::move(image), rows);
      }
      ClampScroll();
      ::InvalidateRect(window_, nullptr, FALSE);
    }
    return S_OK;
  } catch (...) {
    return E_FAIL;
  }
}

STDMETHODIMP TKvPreviewHandler::DoPreview() {
  if (!initialised_ || parent_ == nullptr || !RegisterPreviewClass()) return E_FAIL;
  try {
    ReadDpi();
    const int rows = KvRowsNeeded(0, ClientHeight(), RowHeight());
    const auto read_charset = KvEntryPoints().ReadCharset;
    charset_ = read_charset != nullptr ? read_charset(low_integrity_) : csUpperGraphics;
    Reset();
    ReadListing();
    TDkRenderImage image;
    render_ok_ = RenderInto(rows, image);
    SetImage(std::move(image), rows);
    SelectionInit(selection_, row_model_);

    const auto create = [this] {
      return KvEntryPoints().MakeWindow(
          0, kKvPreviewWindowClass, nullptr, WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, rect_.left,
          rect_.top, std::max(0L, rect_.right - rect_.left), std::max(0L, rect_.bottom - rect_.top),
          parent_, nullptr, ModuleInstance(), nullptr);
    };
    HWND window = create();
    if (window == nullptr && ::IsWindow(parent_) && RegisterPreviewClass(true)) window = create();
    if (window == nullptr) {
      Reset();
      return E_FAIL;
    }
    window_ = window;
    ::SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    RegisterDropTarget();
    ::InvalidateRect(window_, nullptr, FALSE);
    return S_OK;
  } catch (...) {
    try {
      Reset();
    } catch (...) {
    }
    return E_FAIL;
  }
}

STDMETHODIMP TKvPreviewHandler::Unload() {
  try {
    Reset();
    ReleaseOle();
    data_.clear();
    detection_name_.clear();
    image_path_.clear();
    initialised_ = false;
    site_.Reset();
    frame_.Reset();
    return S_OK;
  } catch (...) {
    return E_FAIL;
  }
}

STDMETHODIMP TKvPreviewHandler::SetFocus() {
  if (window_ != nullptr) ::SetFocus(window_);
  return S_OK;
}

STDMETHODIMP TKvPreviewHandler::QueryFocus(HWND* window) {
  if (window == nullptr) return E_INVALIDARG;
  *window = ::GetFocus();
  return *window != nullptr ? S_OK : E_FAIL;
}

STDMETHODIMP TKvPreviewHandler::TranslateAccelerator(MSG*) {
  return S_FALSE;
}

// ---- State shared with the window

int TKvPreviewHandler::ViewHeight() const {
  return ClientHeight() - KvBannerHeight(!banner_.empty(), dpi_);
}

int TKvPreviewHandler::LargestScroll() const {
  return KvLargestScroll(image_.Height, ViewHeight());
}

TKvRect TKvPreviewHandler::ButtonRect() const {
  return KvButtonRect(rect_.right - rect_.left, RowHeight(), dpi_);
}

void TKvPreviewHandler::ClampScroll() {
  scroll_offset_ = std::clamp(scroll_offset_, 0, LargestScroll());
}

void TKvPreviewHandler::Invalidate() const {
  if (window_ != nullptr) ::InvalidateRect(window_, nullptr, FALSE);
}

bool TKvPreviewHandler::ReadDpi() {
  const auto window_dpi = KvEntryPoints().WindowDpi;
  const int dpi = KvEffectiveDpi(window_dpi != nullptr ? window_dpi(parent_) : 0);
  if (dpi == dpi_) return false;
  dpi_ = dpi;
  scale_ = KvScaleFromDpi(dpi_);
  return true;
}

void TKvPreviewHandler::DpiChanged() {
  const int old_row_height = RowHeight();
  if (!ReadDpi() || window_ == nullptr) return;
  // The same entry stays at the top, as far into its row as before.
  const int row_height = RowHeight();
  const int top_row = scroll_offset_ / old_row_height;
  scroll_offset_ =
      top_row * row_height + scroll_offset_ % old_row_height * row_height / old_row_height;
  const int rows =
      std::max(requested_rows_, KvRowsNeeded(scroll_offset_, ClientHeight(), row_height));
  TDkRenderImage image;
  render_ok_ = RenderInto(rows, image);
  SetImage(std::move(image), rows);
  ClampScroll();
  Invalidate();
}

void TKvPreviewHandler::ReadListing() {
  row_model_ = TKvRowModel{};
  row_model_.Loaded = DkReadListing(data_, detection_name_, listing_, &row_model_.Entries);
}

bool TKvPreviewHandler::RenderInto(int rows, TDkRenderImage& image) const {
  KeepSparePixels(std::move(image.Pixels));
  image = TDkRenderImage{};
  image.Pixels = std::exchange(t_spare_pixels, Bytes());
  const auto render = KvEntryPoints().Render;
  bool ok = false;
  try {
    // The listing at its own width: the pane around it shows the background colour.
    ok = render != nullptr && !listing_.empty() &&
         render(listing_, 0, scale_, rows, image, charset_);
  } catch (...) {
    ok = false;
  }
  if (!ok) {
    KeepSparePixels(std::move(image.Pixels));
    image = TDkRenderImage{};
  } else if (image.Pixels.capacity() > image.Pixels.size()) {
    // A smaller listing drawn into a larger spare: keep only what it needs.
    image.Pixels.shrink_to_fit();
  }
  return ok;
}

void TKvPreviewHandler::SetImage(TDkRenderImage image, int rows) {
  KeepSparePixels(std::move(image_.Pixels));
  image_ = std::move(image);
  requested_rows_ = rows;
  complete_ = static_cast<long long>(image_.Height) < static_cast<long long>(rows) * RowHeight();
}

void TKvPreviewHandler::ScrollTo(int y) {
  y = std::max(0, y);
  const int rows = KvRowsNeeded(y, ClientHeight(), RowHeight());
  if (!complete_ && requested_rows_ < rows) {
    TDkRenderImage image;
    if (RenderInto(rows, image)) SetImage(std::move(image), rows);
  }
  y = std::min(y, LargestScroll());
  if (y != scroll_offset_) {
    scroll_offset_ = y;
    Invalidate();
  }
}

void TKvPreviewHandler::ScrollIntoView(int entry) {
  if (entry < 0 || entry >= static_cast<int>(selection_.Selected.size())) return;
  const int row_height = RowHeight();
  const int top = ListingRowOf(entry) * row_height;
  if (top < scroll_offset_) {
    ScrollTo(top);
  } else if (top + row_height > scroll_offset_ + ViewHeight()) {
    ScrollTo(top + row_height - ViewHeight());
  }
}

void TKvPreviewHandler::SetBanner(std::wstring text) {
  if (text == banner_) return;
  banner_ = std::move(text);
  // The message is also the window's text, which screen readers read out.
  if (window_ != nullptr) ::SetWindowTextW(window_, banner_.c_str());
  ClampScroll();
  Invalidate();
}

void TKvPreviewHandler::ToggleCharset() {
  charset_ = charset_ == csUpperGraphics ? csLowerUpper : csUpperGraphics;
  if (const auto write = KvEntryPoints().WriteCharset; write != nullptr) {
    write(charset_, low_integrity_);
  }
  TDkRenderImage image;
  render_ok_ = RenderInto(requested_rows_, image);
  SetImage(std::move(image), requested_rows_);
  ClampScroll();
  Invalidate();
}

void TKvPreviewHandler::Reset() {
  RevokeDropTarget();
  banner_.clear();
  if (window_ != nullptr) {
    HWND window = window_;
    if (::IsWindow(window)) {
      ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      ::DestroyWindow(window);
    }
    window_ = nullptr;
  }
  back_buffer_.Free();
  KeepSparePixels(std::move(image_.Pixels));
  image_ = TDkRenderImage{};
  requested_rows_ = scroll_offset_ = 0;
  complete_ = render_ok_ = false;
  row_model_ = TKvRowModel{};
  listing_.clear();
  SelectionInit(selection_, row_model_);
  focused_ = false;
  drag_ = DragState{};
  button_hover_ = button_pressed_ = chord_armed_ = false;
}

}  // namespace kelvane::win
