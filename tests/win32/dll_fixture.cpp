#include "win32/dll_fixture.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "render/icons.h"
#include "render/listing_render.h"
#include "shell/preview_paint.h"
#include "shell/row_model.h"

namespace kelvane::testing {

Bytes ExpectedFrame(const Scene& scene) {
  const int scale = KvScaleFromDpi(scene.dpi);
  const int row_height = KvRowHeight(scale);
  Bytes frame(static_cast<std::size_t>(scene.width) * scene.height * 4);
  for (std::size_t i = 0; i < frame.size(); i += 4) {
    frame[i] = static_cast<std::uint8_t>(scene.background);
    frame[i + 1] = static_cast<std::uint8_t>(scene.background >> 8);
    frame[i + 2] = static_cast<std::uint8_t>(scene.background >> 16);
    frame[i + 3] = 255;
  }
  TDkRenderImage image;
  if (!DkRenderDiskPreview(scene.data, scene.name, 0, scale, 0, image, scene.charset)) {
    return frame;
  }
  const int visible_width = std::min(image.Width, scene.width);
  const int visible_height = std::min(image.Height - scene.scroll, scene.height);
  if (visible_width < 1 || visible_height < 1) return frame;

  TKvRowModel model;
  BuildRowModel(scene.data, scene.name, model);
  TKvSelection selection;
  SelectionInit(selection, model);
  for (int entry : scene.selected) selection.Selected.at(entry) = true;
  Bytes scratch;
  const std::size_t stride = static_cast<std::size_t>(image.Width) * 4;
  const bool tinted = KvTintSelectedRows(image, scene.scroll, visible_height, selection, row_height,
                                         scene.focused, scratch);
  if (!tinted) {
    const auto begin = image.Pixels.begin() + static_cast<std::ptrdiff_t>(scene.scroll * stride);
    scratch.assign(begin, begin + static_cast<std::ptrdiff_t>(visible_height * stride));
  }
  for (int y = 0; y < visible_height; ++y) {
    std::copy_n(scratch.begin() + static_cast<std::ptrdiff_t>(y * stride), visible_width * 4,
                frame.begin() + static_cast<std::ptrdiff_t>(y) * scene.width * 4);
  }

  const TKvRect rect = KvButtonRect(scene.width, row_height, scene.dpi);
  const int stroke = KvButtonStroke(scene.dpi);
  const int size = KvButtonIconSize(row_height, stroke);
  TKvIconMask mask;
  if (KvButtonDrawable(rect, stroke, size) && RasteriseIcon(IconPath(scene.charset), size, mask)) {
    const Bytes button = KvComposeButton(
        TKvPixels{scratch, image.Width, visible_height}, rect,
        TKvButtonLook{stroke, KvButtonRadius(scene.dpi), scene.button_tint, scene.background},
        mask);
    for (int y = 0; y < rect.Height() && rect.Top + y < scene.height; ++y) {
      std::copy_n(button.begin() + static_cast<std::ptrdiff_t>(y) * rect.Width() * 4,
                  rect.Width() * 4,
                  frame.begin() +
                      (static_cast<std::ptrdiff_t>(rect.Top + y) * scene.width + rect.Left) * 4);
    }
  }
  return frame;
}

int DifferingPixels(const Bytes& a, const Bytes& b, int width, std::string* where) {
  if (a.size() != b.size() || width < 1) return static_cast<int>(std::max(a.size(), b.size()) / 4);
  int count = 0;
  for (std::size_t i = 0; i + 3 < a.size(); i += 4) {
    if (a[i] == b[i] && a[i + 1] == b[i + 1] && a[i + 2] == b[i + 2]) continue;
    if (count++ == 0 && where != nullptr) {
      const std::size_t pixel = i / 4;
      char text[96];
      std::snprintf(text, sizeof(text), "(%zu, %zu): %02x%02x%02x instead of %02x%02x%02x",
                    pixel % width, pixel / width, a[i + 2], a[i + 1], a[i], b[i + 2], b[i + 1],
                    b[i]);
      *where = text;
    }
  }
  return count;
}

// The GDI objects alive in the process, up to a constant. Wine hands out GDI handle slots from
// a list of freed ones first and then in order: once enough brushes are made to use up the freed
// slots, the highest slot taken is the number of live objects plus the brushes made.
// Bytes in use on every heap of the process.
std::size_t HeapBytesInUse() {
  HANDLE heaps[64];
  const DWORD count = std::min<DWORD>(::GetProcessHeaps(64, heaps), 64);
  std::size_t total = 0;
  for (DWORD h = 0; h < count; ++h) {
    if (!::HeapLock(heaps[h])) continue;
    PROCESS_HEAP_ENTRY entry{};
    while (::HeapWalk(heaps[h], &entry)) {
      if ((entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) != 0) total += entry.cbData;
    }
    ::HeapUnlock(heaps[h]);
  }
  return total;
}

int GdiObjectsInUse() {
  std::vector<HBRUSH> brushes(8000);
  unsigned highest = 0;
  for (HBRUSH& brush : brushes) {
    brush = ::CreateSolidBrush(RGB(1, 2, 3));
    highest =
        std::max(highest, static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(brush) & 0xFFFF));
  }
  for (HBRUSH brush : brushes) ::DeleteObject(brush);
  return static_cast<int>(highest);
}

int ScreenDpi() {
  const HDC screen = ::GetDC(nullptr);
  const int dpi = ::GetDeviceCaps(screen, LOGPIXELSY);
  ::ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : 96;
}

view::TKvPreviewHost& SharedHost() {
  static view::TKvPreviewHost* host = [] {
    ::OleInitialize(nullptr);
    return new view::TKvPreviewHost(WindowsPath(KELVANE_PREVIEW_DLL));
  }();
  return *host;
}

namespace {

LRESULT CALLBACK ParentProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  return ::DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace

ParentWindow::ParentWindow(int width, int height) {
  static const ATOM atom = [] {
    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof(window_class);
    window_class.lpfnWndProc = ParentProc;
    window_class.hInstance = ::GetModuleHandleW(nullptr);
    window_class.lpszClassName = L"KelvaneTestParent";
    return ::RegisterClassExW(&window_class);
  }();
  (void)atom;
  // Not shown: under Wine on an X server without a window manager, hiding or destroying a
  // shown top-level window waits two seconds for the server. Painting and focus work unshown.
  window_ = ::CreateWindowExW(0, L"KelvaneTestParent", L"test", WS_POPUP, 0, 0, width, height,
                              nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
}

ParentWindow::~ParentWindow() {
  if (window_ != nullptr) ::DestroyWindow(window_);
}

std::wstring WindowsPath(const std::string& path) {
  const int size = ::MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(std::max(size, 1)), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, wide.data(), size);
  wide.resize(wide.size() - 1);
  // Paths under Wine's root drive: /tmp/x -> Z:\tmp\x.
  if (!wide.empty() && wide[0] == L'/') wide = L"Z:" + wide;
  std::replace(wide.begin(), wide.end(), L'/', L'\\');
  return wide;
}

namespace {
const wchar_t* SettingsKey(bool low_integrity) {
  return low_integrity ? L"Software\\AppDataLow\\Software\\Kelvane" : L"Software\\Kelvane";
}
}  // namespace

int CharsetSettingValue(bool low_integrity) {
  DWORD value = 0;
  DWORD size = sizeof(value);
  if (::RegGetValueW(HKEY_CURRENT_USER, SettingsKey(low_integrity), L"Charset", RRF_RT_REG_DWORD,
                     nullptr, &value, &size) != ERROR_SUCCESS) {
    return -1;
  }
  return static_cast<int>(value);
}

void SetCharsetSetting(DWORD value, bool low_integrity) {
  ::RegSetKeyValueW(HKEY_CURRENT_USER, SettingsKey(low_integrity), L"Charset", REG_DWORD, &value,
                    sizeof(value));
}

namespace {
void DeleteCharsetSetting() {
  for (const bool low : {false, true}) {
    ::RegDeleteKeyValueW(HKEY_CURRENT_USER, SettingsKey(low), L"Charset");
  }
}
}  // namespace

void DllTest::SetUp() {
  ASSERT_TRUE(SharedHost().Ok()) << "the DLL or its factory was not found";
  DeleteCharsetSetting();
  dpi_ = ScreenDpi();
  row_height_ = KvRowHeight(KvScaleFromDpi(dpi_));
  const char* expect_dpi = std::getenv("KELVANE_EXPECT_DPI");  // the 144-DPI pass
  if (expect_dpi != nullptr) {
    ASSERT_EQ(dpi_, std::atoi(expect_dpi)) << "the screen's DPI is not the one this run is for";
  }
}

void DllTest::TearDown() {
  host().Close();
  DeleteCharsetSetting();
}

HWND DllTest::Open(const Bytes& bytes, const std::string& name, bool stream) {
  image_path_ = folder_.Write(name, bytes);
  EXPECT_TRUE(
      host().Open(WindowsPath(image_path_), stream, parent_.get(), RECT{0, 0, kWidth, kHeight}))
      << name << std::hex << " " << host().LastResult();
  return host().Window();
}

Scene DllTest::SceneOf(const Bytes& data) const {
  Scene scene;
  scene.data = data;
  scene.width = kWidth;
  scene.height = kHeight;
  scene.dpi = dpi_;
  return scene;
}

void DllTest::ExpectShows(const Scene& scene, const std::string& what) {
  const view::TKvWindowPixels shot = view::KvCaptureWindow(host().Window());
  ASSERT_EQ(shot.Width, scene.width) << what;
  ASSERT_EQ(shot.Height, scene.height) << what;
  std::string where;
  EXPECT_EQ(DifferingPixels(shot.Pixels, ExpectedFrame(scene), shot.Width, &where), 0)
      << what << ": first at " << where;
}

LRESULT DllTest::Send(UINT message, WPARAM wparam, LPARAM lparam) {
  return ::SendMessageW(host().Window(), message, wparam, lparam);
}

void DllTest::SetModifiers(bool shift, bool ctrl) {
  BYTE keys[256] = {};
  ::GetKeyboardState(keys);
  keys[VK_SHIFT] = keys[VK_LSHIFT] = shift ? 0x80 : 0;
  keys[VK_CONTROL] = keys[VK_LCONTROL] = ctrl ? 0x80 : 0;
  ::SetKeyboardState(keys);
}

LPARAM DllTest::AtEntry(int entry) const {
  return MAKELPARAM(40, (entry + 1) * row_height_ + row_height_ / 2);
}

void DllTest::Click(int entry, bool shift, bool ctrl) {
  SetModifiers(shift, ctrl);
  Send(WM_LBUTTONDOWN, MK_LBUTTON | (ctrl ? MK_CONTROL : 0), AtEntry(entry));
  Send(WM_LBUTTONUP, 0, AtEntry(entry));
  SetModifiers(false, false);
}

void DllTest::Key(int key, bool shift, bool ctrl) {
  SetModifiers(shift, ctrl);
  Send(WM_KEYDOWN, key, 1);
  Send(WM_KEYUP, key, 1 | 0xC0000000);
  SetModifiers(false, false);
}

}  // namespace kelvane::testing
