// The preview's child window: its class, the window procedure, painting and input.

#include <windowsx.h>

#include <algorithm>
#include <cstdlib>

#include "shell/win32/dib.h"
#include "shell/win32/entry_points.h"
#include "shell/win32/preview_handler.h"

namespace kelvane::win {

namespace {

ATOM g_class_atom = 0;

bool IsModifier(int key) {
  switch (key) {
    case VK_SHIFT:
    case VK_CONTROL:
    case VK_LSHIFT:
    case VK_RSHIFT:
    case VK_LCONTROL:
    case VK_RCONTROL:
      return true;
    default:
      return false;
  }
}

}  // namespace

bool TKvPreviewHandler::RegisterPreviewClass(bool check_again) {
  // Once registered by this module the class is not looked up for every preview, only when a
  // window could not be made with it.
  if (g_class_atom != 0 && !check_again) return true;
  const HINSTANCE instance = ModuleInstance();
  WNDCLASSEXW existing{};
  existing.cbSize = sizeof(existing);
  if (::GetClassInfoExW(instance, kKvPreviewWindowClass, &existing)) {
    if (existing.lpfnWndProc == WindowProc) return true;
    ::UnregisterClassW(kKvPreviewWindowClass, instance);
  }
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof(window_class);
  window_class.style = CS_HREDRAW | CS_VREDRAW;
  window_class.lpfnWndProc = WindowProc;
  window_class.hInstance = instance;
  window_class.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  window_class.hbrBackground = PageBrush();
  window_class.lpszClassName = kKvPreviewWindowClass;
  const ATOM atom = ::RegisterClassExW(&window_class);
  if (atom != 0) {
    g_class_atom = atom;
    return true;
  }
  return ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

void TKvPreviewHandler::UnregisterPreviewClass() {
  if (g_class_atom == 0) return;
  ::UnregisterClassW(kKvPreviewWindowClass, ModuleInstance());
  g_class_atom = 0;
}

LRESULT CALLBACK TKvPreviewHandler::WindowProc(HWND window, UINT message, WPARAM wparam,
                                               LPARAM lparam) {
  auto* handler = reinterpret_cast<TKvPreviewHandler*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (message == WM_ERASEBKGND) {
    RECT client{};
    ::GetClientRect(window, &client);
    ::FillRect(reinterpret_cast<HDC>(wparam), &client,
               handler != nullptr ? handler->BackgroundBrush() : PageBrush());
    return 1;
  }
  if (handler == nullptr || message == WM_NULL || message == WM_CREATE ||
      handler->window_ != window) {
    return ::DefWindowProcW(window, message, wparam, lparam);
  }
  try {
    bool handled = false;
    const LRESULT result = handler->HandleMessage(message, wparam, lparam, handled);
    if (handled) return result;
  } catch (...) {
    // Nothing is shown; the message is treated as not handled.
  }
  return ::DefWindowProcW(window, message, wparam, lparam);
}

LRESULT TKvPreviewHandler::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam,
                                         bool& handled) {
  const int x = GET_X_LPARAM(lparam);
  const int y = GET_Y_LPARAM(lparam);
  handled = true;
  switch (message) {
    case WM_DESTROY:
      RevokeDropTarget();
      back_buffer_.Free();
      handled = false;
      return 0;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
      FocusChanged(message == WM_SETFOCUS);
      handled = false;
      return 0;
    case WM_PAINT: {
      const ScopedPaint paint(window_);
      if (paint.dc() != nullptr) Paint(paint.dc());
      return 0;
    }
    case WM_PRINTCLIENT:
      Paint(reinterpret_cast<HDC>(wparam));
      return 0;
    case WM_SETCURSOR: {
      POINT point{};
      if (LOWORD(lparam) == HTCLIENT && ButtonExists() && ::GetCursorPos(&point) &&
          ::ScreenToClient(window_, &point) && ButtonRect().Contains(point.x, point.y)) {
        ::SetCursor(::LoadCursorW(nullptr, IDC_HAND));
        return TRUE;
      }
      handled = false;
      return 0;
    }
    case WM_NCDESTROY:
      ::SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
      window_ = nullptr;
      handled = false;
      return 0;
    case WM_KEYDOWN:
      if (KeyDown(static_cast<int>(wparam), (lparam & (1 << 30)) != 0)) return 0;
      if (ForwardToFrame(message, wparam, lparam)) return 0;
      handled = false;
      return 0;
    case WM_KEYUP:
      if (KeyUp(static_cast<int>(wparam))) return 0;
      handled = false;
      return 0;
    case WM_SYSKEYDOWN:
      if ((lparam & (1 << 30)) == 0) chord_armed_ = false;
      if (ForwardToFrame(message, wparam, lparam)) return 0;
      handled = false;
      return 0;
    case WM_MOUSEMOVE:
      HoverUpdate(x, y);
      if ((wparam & MK_LBUTTON) != 0) DragCheck(x, y);
      return 0;
    case WM_LBUTTONDOWN:
      ::SetFocus(window_);
      Press(x, y);
      return 0;
    case WM_LBUTTONUP:
      ReleaseButton(x, y);
      return 0;
    case WM_MOUSEWHEEL:
      Wheel(GET_WHEEL_DELTA_WPARAM(wparam));
      return 0;
    case WM_CAPTURECHANGED:
      FinishPress(false);
      handled = false;
      return 0;
    case WM_MOUSELEAVE:
      HoverUpdate(-1, -1);
      return 0;
    case WM_DPICHANGED_AFTERPARENT:
      DpiChanged();
      return 0;
    default:
      handled = false;
      return 0;
  }
}

// ---- Painting

bool TKvPreviewHandler::EnsureBackBuffer(int width, int height) {
  if (back_buffer_.Dc && back_buffer_.Width == width && back_buffer_.Height == height) return true;
  back_buffer_.Free();
  if (width < 1 || height < 1) return false;
  UniqueDc dc(::CreateCompatibleDC(nullptr));
  if (!dc) return false;
  const BITMAPINFO info = KvTopDownInfo(width, height);
  void* bits = nullptr;
  UniqueBitmap bitmap(::CreateDIBSection(dc.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!bitmap) return false;
  back_buffer_.Previous = ::SelectObject(dc.get(), bitmap.get());
  back_buffer_.Dc = std::move(dc);
  back_buffer_.Bitmap = std::move(bitmap);
  back_buffer_.Width = width;
  back_buffer_.Height = height;
  return true;
}

void TKvPreviewHandler::Paint(HDC target) {
  RECT client{};
  ::GetClientRect(window_, &client);
  const int width = client.right - client.left;
  const int height = client.bottom - client.top;
  if (EnsureBackBuffer(width, height)) {
    PaintContent(back_buffer_.Dc.get(), client);
    ::BitBlt(target, 0, 0, width, height, back_buffer_.Dc.get(), 0, 0, SRCCOPY);
  } else {
    PaintContent(target, client);
  }
}

void TKvPreviewHandler::PaintContent(HDC dc, const RECT& client) {
  ::FillRect(dc, &client, BackgroundBrush());
  const int client_width = client.right - client.left;
  const int client_height = client.bottom - client.top;
  const int visible_width = std::min(image_.Width, client_width);
  const int visible_height = std::min(image_.Height - scroll_offset_, client_height);
  if (image_.Width > 0 && image_.Height > 0 && visible_width >= 1 && visible_height >= 1) {
    const bool tinted = KvTintSelectedRows(image_, scroll_offset_, visible_height, selection_,
                                           RowHeight(), focused_, scratch_);
    const std::size_t stride = static_cast<std::size_t>(image_.Width) * 4;
    const std::span<const std::uint8_t> picture =
        tinted ? std::span<const std::uint8_t>(scratch_)
               : std::span<const std::uint8_t>(image_.Pixels)
                     .subspan(static_cast<std::size_t>(scroll_offset_) * stride,
                              static_cast<std::size_t>(visible_height) * stride);
    const BITMAPINFO info = KvTopDownInfo(image_.Width, visible_height);
    ::StretchDIBits(dc, 0, 0, visible_width, visible_height, 0, 0, visible_width, visible_height,
                    picture.data(), &info, DIB_RGB_COLORS, SRCCOPY);
    PaintButton(dc, TKvPixels{picture, image_.Width, visible_height});
  }
  PaintBanner(dc, client);
}

void TKvPreviewHandler::PaintButton(HDC dc, const TKvPixels& picture) {
  if (!ButtonExists()) return;
  const TKvRect rect = ButtonRect();
  const int stroke = KvButtonStroke(dpi_);
  const int size = KvButtonIconSize(RowHeight(), stroke);
  if (!KvButtonDrawable(rect, stroke, size)) return;
  TKvIconMask& mask = icon_masks_[charset_ == csLowerUpper ? 1 : 0];
  if (mask.Size != size && !RasteriseIcon(IconPath(charset_), size, mask)) return;
  const int tint = button_pressed_ ? kKvButtonPressedTint : button_hover_ ? kKvButtonHoverTint : 0;
  const Bytes pixels = KvComposeButton(
      picture, rect, TKvButtonLook{stroke, KvButtonRadius(dpi_), tint, background_}, mask);
  const BITMAPINFO info = KvTopDownInfo(rect.Width(), rect.Height());
  ::StretchDIBits(dc, rect.Left, rect.Top, rect.Width(), rect.Height(), 0, 0, rect.Width(),
                  rect.Height(), pixels.data(), &info, DIB_RGB_COLORS, SRCCOPY);
}

void TKvPreviewHandler::PaintBanner(HDC dc, const RECT& client) const {
  if (banner_.empty()) return;
  RECT band = client;
  band.top = std::max(client.top, client.bottom - KvScaled(22, dpi_));
  const UniqueBrush brush(::CreateSolidBrush(RGB(42, 42, 42)));
  if (brush) ::FillRect(dc, &band, brush.get());
  const UniqueFont font(::CreateFontW(-KvScaled(11, dpi_), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                                      DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                      DEFAULT_QUALITY, DEFAULT_PITCH, L"Segoe UI"));
  const ScopedSelect select_font(dc, font.get());
  ::SetBkMode(dc, TRANSPARENT);
  ::SetTextColor(dc, RGB(0x6C, 0x6C, 0x6C));
  const int row_height = RowHeight();
  RECT text = band;
  text.left = row_height;
  text.right = std::max<LONG>(band.right - row_height, row_height);
  ::DrawTextW(dc, banner_.c_str(), static_cast<int>(banner_.size()), &text,
              DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS | DT_NOPREFIX);
}

// ---- Input

bool TKvPreviewHandler::ShiftDown() const {
  return (KvEntryPoints().KeyState(VK_SHIFT) & 0x8000) != 0;
}

bool TKvPreviewHandler::CtrlDown() const {
  return (KvEntryPoints().KeyState(VK_CONTROL) & 0x8000) != 0;
}

void TKvPreviewHandler::ReleaseOwnCapture() const {
  if (window_ != nullptr && ::GetCapture() == window_) ::ReleaseCapture();
}

void TKvPreviewHandler::FocusChanged(bool focused) {
  chord_armed_ = false;
  if (focused == focused_) return;
  focused_ = focused;
  if (SelectedCount(selection_) > 0) Invalidate();
}

void TKvPreviewHandler::HoverUpdate(int x, int y) {
  const bool over = ButtonExists() && ButtonRect().Contains(x, y);
  if (over == button_hover_) return;
  button_hover_ = over;
  if (over && window_ != nullptr) {
    TRACKMOUSEEVENT track{};
    track.cbSize = sizeof(track);
    track.dwFlags = TME_LEAVE;
    track.hwndTrack = window_;
    ::TrackMouseEvent(&track);
  }
  Invalidate();
}

void TKvPreviewHandler::Press(int x, int y) {
  ReleaseOwnCapture();
  drag_.Armed = drag_.DeferredCollapse = drag_.DeferredDeselect = false;
  chord_armed_ = false;
  if (ButtonExists() && ButtonRect().Contains(x, y)) {
    button_pressed_ = true;
    ::SetCapture(window_);
    Invalidate();
    return;
  }
  SetBanner(std::wstring());
  const int entry = EntryAt(row_model_, scroll_offset_, y, RowHeight());
  const TKvPressOutcome outcome = KvApplyPress(selection_, entry, ShiftDown(), CtrlDown());
  Invalidate();
  if (outcome.MayDrag) {
    drag_.Armed = true;
    drag_.DeferredCollapse = outcome.DeferredCollapse;
    drag_.DeferredDeselect = outcome.DeferredDeselect;
    drag_.PressX = x;
    drag_.PressY = y;
    drag_.PressEntry = entry;
    ::SetCapture(window_);
  }
}

void TKvPreviewHandler::DragCheck(int x, int y) {
  if (!drag_.Armed) return;
  if (std::abs(x - drag_.PressX) <= ::GetSystemMetrics(SM_CXDRAG) / 2 &&
      std::abs(y - drag_.PressY) <= ::GetSystemMetrics(SM_CYDRAG) / 2) {
    return;
  }
  drag_.Armed = drag_.DeferredCollapse = drag_.DeferredDeselect = false;
  ReleaseOwnCapture();
  StartDrag();
}

void TKvPreviewHandler::ReleaseButton(int x, int y) {
  if (!button_pressed_) {
    FinishPress(true);
    return;
  }
  button_pressed_ = false;
  ReleaseOwnCapture();
  if (ButtonExists() && ButtonRect().Contains(x, y)) {
    ToggleCharset();
  } else {
    Invalidate();
  }
}

void TKvPreviewHandler::FinishPress(bool completed) {
  const bool collapse = drag_.Armed && drag_.DeferredCollapse && completed;
  const bool deselect = drag_.Armed && drag_.DeferredDeselect && completed;
  drag_.Armed = drag_.DeferredCollapse = drag_.DeferredDeselect = false;
  if (deselect) {
    ToggleOne(selection_, drag_.PressEntry);
    Invalidate();
  }
  if (button_pressed_) {
    button_pressed_ = false;
    Invalidate();
  }
  if (collapse) {
    SelectOnly(selection_, drag_.PressEntry);
    Invalidate();
    ScrollIntoView(selection_.Caret);
  }
  if (completed) ReleaseOwnCapture();
}

void TKvPreviewHandler::Wheel(int delta) {
  ScrollTo(scroll_offset_ - (delta / 120) * 3 * RowHeight());
}

bool TKvPreviewHandler::KeyDown(int key, bool repeat) {
  const bool shift = ShiftDown();
  const bool ctrl = CtrlDown();
  if (IsModifier(key)) {
    if (!repeat) chord_armed_ = chord_armed_ || (shift && ctrl && ButtonExists());
    return false;
  }
  if (!repeat) chord_armed_ = false;
  const TKvKeyOutcome outcome =
      KvApplyKey(row_model_, selection_, key, shift, ctrl, ClientHeight(), RowHeight());
  if (!outcome.Used) return false;
  Invalidate();
  if (outcome.Moved) ScrollIntoView(selection_.Caret);
  return true;
}

bool TKvPreviewHandler::KeyUp(int key) {
  if (!chord_armed_ || !IsModifier(key) || (ShiftDown() && CtrlDown())) return false;
  chord_armed_ = false;
  ToggleCharset();
  return true;
}

bool TKvPreviewHandler::ForwardToFrame(UINT message, WPARAM wparam, LPARAM lparam) const {
  if (!frame_) return false;
  MSG msg{};
  msg.hwnd = window_;
  msg.message = message;
  msg.wParam = wparam;
  msg.lParam = lparam;
  msg.time = static_cast<DWORD>(::GetMessageTime());
  const DWORD position = ::GetMessagePos();
  msg.pt.x = GET_X_LPARAM(position);
  msg.pt.y = GET_Y_LPARAM(position);
  return frame_->TranslateAccelerator(&msg) == S_OK;
}

}  // namespace kelvane::win
