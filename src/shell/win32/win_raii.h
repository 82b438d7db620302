#pragma once

// Owning wrappers for the Windows handles the preview uses: each closes, deletes or releases
// what it holds exactly once, when it goes out of scope or is reset.

#include <windows.h>

#include <utility>

namespace kelvane::win {

// A handle closed by Traits::Close; Traits::Null() is the value that holds nothing.
template <typename Traits>
class Unique {
 public:
  using T = typename Traits::Type;
  Unique() = default;
  explicit Unique(T value) : value_(value) {}
  Unique(Unique&& other) noexcept : value_(std::exchange(other.value_, Traits::Null())) {}
  Unique& operator=(Unique&& other) noexcept {
    if (this != &other) reset(std::exchange(other.value_, Traits::Null()));
    return *this;
  }
  Unique(const Unique&) = delete;
  Unique& operator=(const Unique&) = delete;
  ~Unique() { reset(); }

  T get() const { return value_; }
  explicit operator bool() const { return value_ != Traits::Null(); }
  void reset(T value = Traits::Null()) {
    if (value_ != Traits::Null()) Traits::Close(value_);
    value_ = value;
  }
  T release() { return std::exchange(value_, Traits::Null()); }

 private:
  T value_ = Traits::Null();
};

template <typename H, auto CloseFunction>
struct NullTraits {
  using Type = H;
  static H Null() { return nullptr; }
  static void Close(H value) { CloseFunction(value); }
};

struct FileTraits {
  using Type = HANDLE;
  static HANDLE Null() { return INVALID_HANDLE_VALUE; }
  static void Close(HANDLE value) { ::CloseHandle(value); }
};

inline void CloseKey(HKEY key) {
  ::RegCloseKey(key);
}
inline void DeleteDc(HDC dc) {
  ::DeleteDC(dc);
}
inline void DeleteGdi(HGDIOBJ object) {
  ::DeleteObject(object);
}
inline void FreeTaskMemory(wchar_t* text) {
  ::CoTaskMemFree(text);
}

using UniqueFile = Unique<FileTraits>;
using UniqueKey = Unique<NullTraits<HKEY, CloseKey>>;
using UniqueDc = Unique<NullTraits<HDC, DeleteDc>>;
using UniqueFont = Unique<NullTraits<HFONT, DeleteGdi>>;
using UniqueBrush = Unique<NullTraits<HBRUSH, DeleteGdi>>;
using UniqueBitmap = Unique<NullTraits<HBITMAP, DeleteGdi>>;
using TaskString = Unique<NullTraits<wchar_t*, FreeTaskMemory>>;

// Selects an object into a device context and selects the previous one back on scope exit.
class ScopedSelect {
 public:
  ScopedSelect(HDC dc, HGDIOBJ object) : dc_(dc), previous_(::SelectObject(dc, object)) {}
  ScopedSelect(const ScopedSelect&) = delete;
  ScopedSelect& operator=(const ScopedSelect&) = delete;
  ~ScopedSelect() {
    if (previous_ != nullptr && previous_ != HGDI_ERROR) ::SelectObject(dc_, previous_);
  }

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

// BeginPaint .. EndPaint.
class ScopedPaint {
 public:
  explicit ScopedPaint(HWND window) : window_(window) { dc_ = ::BeginPaint(window, &paint_); }
  ScopedPaint(const ScopedPaint&) = delete;
  ScopedPaint& operator=(const ScopedPaint&) = delete;
  ~ScopedPaint() { ::EndPaint(window_, &paint_); }
  HDC dc() const { return dc_; }

 private:
  HWND window_;
  PAINTSTRUCT paint_{};
  HDC dc_ = nullptr;
};

// A device context from GetDC, given back with ReleaseDC.
class WindowDc {
 public:
  explicit WindowDc(HWND window) : window_(window), dc_(::GetDC(window)) {}
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;
  ~WindowDc() {
    if (dc_ != nullptr) ::ReleaseDC(window_, dc_);
  }
  HDC get() const { return dc_; }

 private:
  HWND window_;
  HDC dc_;
};

}  // namespace kelvane::win
