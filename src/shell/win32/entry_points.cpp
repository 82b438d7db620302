#include "shell/win32/entry_points.h"

#include <algorithm>

#include "shell/win32/integrity.h"
#include "shell/win32/win_raii.h"

namespace kelvane::win {

namespace {

constexpr wchar_t kCharsetValue[] = L"Charset";
// Windows scales up to 500 %; a larger answer is not a real display's.
constexpr UINT kLargestDpi = 10 * 96;

HRESULT NormalDragLoop(IDataObject* data, IDropSource* source, DWORD allowed, DWORD* effect) {
  const HRESULT init = ::OleInitialize(nullptr);
  if (FAILED(init)) return init;
  const HRESULT result = ::DoDragDrop(data, source, allowed, effect);
  ::OleUninitialize();
  return result;
}

bool NormalRender(const TRenderRows& rows, int min_width, int scale, int max_rows,
                  TDkRenderImage& image, TDkCharset charset) {
  int drawn = 0;
  return RenderRows(rows, min_width, scale, std::max(0, max_rows), image, drawn, charset);
}

TKvEntryPoints NormalEntryPoints() {
  TKvEntryPoints table;
  table.Render = NormalRender;
  table.DragLoop = NormalDragLoop;
  table.KeyState = ::GetKeyState;
  table.MakeWindow = ::CreateWindowExW;
  table.ReadCharset = KvReadCharsetSetting;
  table.WriteCharset = KvWriteCharsetSetting;
  table.IntegrityLevel = KvProcessIntegrityLevel;
  table.WindowDpi = KvWindowDpi;
  return table;
}

TKvEntryPoints g_entry_points = NormalEntryPoints();

}  // namespace

TKvEntryPoints& KvEntryPoints() {
  return g_entry_points;
}

void KvResetEntryPoints() {
  g_entry_points = NormalEntryPoints();
}

int KvWindowDpi(HWND window) {
  using DpiForWindowFn = UINT(WINAPI*)(HWND);
  const HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
  const auto dpi_for_window =
      user32 == nullptr ? nullptr
                        : reinterpret_cast<DpiForWindowFn>(
                              reinterpret_cast<void*>(::GetProcAddress(user32, "GetDpiForWindow")));
  if (dpi_for_window != nullptr && window != nullptr) {
    const UINT dpi = dpi_for_window(window);
    if (dpi > 0 && dpi <= kLargestDpi) return static_cast<int>(dpi);
  }
  const WindowDc screen(nullptr);
  const int dpi = screen.get() != nullptr ? ::GetDeviceCaps(screen.get(), LOGPIXELSY) : 0;
  return dpi > 0 ? dpi : 96;
}

TDkCharset KvReadCharsetSetting(bool low_integrity) {
  HKEY raw = nullptr;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, KvSettingsKey(low_integrity), 0, KEY_QUERY_VALUE, &raw) !=
      ERROR_SUCCESS) {
    return csUpperGraphics;
  }
  const UniqueKey key(raw);
  DWORD type = 0;
  DWORD value = 0;
  DWORD size = sizeof(value);
  const LONG status = ::RegQueryValueExW(key.get(), kCharsetValue, nullptr, &type,
                                         reinterpret_cast<BYTE*>(&value), &size);
  if (status == ERROR_SUCCESS && type == REG_DWORD && size == sizeof(value) && value == 1) {
    return csLowerUpper;
  }
  return csUpperGraphics;
}

void KvWriteCharsetSetting(TDkCharset charset, bool low_integrity) {
  HKEY raw = nullptr;
  if (::RegCreateKeyExW(HKEY_CURRENT_USER, KvSettingsKey(low_integrity), 0, nullptr, 0,
                        KEY_SET_VALUE, nullptr, &raw, nullptr) != ERROR_SUCCESS) {
    return;
  }
  const UniqueKey key(raw);
  const DWORD value = charset == csLowerUpper ? 1 : 0;
  ::RegSetValueExW(key.get(), kCharsetValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                   sizeof(value));
}

}  // namespace kelvane::win
