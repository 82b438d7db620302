#pragma once

// What the preview window must show, composed from the library's renderer and paint rules, and
// the test's own Windows scaffolding: a parent window, a loaded DLL, files under Z:.

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "render/charset.h"
#include "view/preview_host.h"

namespace kelvane::testing {

struct Scene {
  Bytes data;
  std::string name = ".d64";  // the detection name
  int width = 0;
  int height = 0;
  int dpi = 96;
  int scroll = 0;
  std::vector<int> selected;  // entry indices
  bool focused = false;
  TDkCharset charset = csUpperGraphics;
  int button_tint = 0;
  std::uint32_t background = 0x2A2A2A;  // the pane's colour around the listing (0xRRGGBB)
};

// The client area's pixels (blue, green, red; alpha ignored) as the window must paint them
// without a banner.
Bytes ExpectedFrame(const Scene& scene);

// The number of pixels whose colour differs between two frames of equal size (all when the
// sizes differ), and the first of them in `where`.
int DifferingPixels(const Bytes& a, const Bytes& b, int width, std::string* where = nullptr);

// The number of live GDI objects in the process, up to a constant (Wine's handle slots).
int GdiObjectsInUse();

// The screen's DPI as the handler reads it.
int ScreenDpi();

// The preview DLL of this build, loaded once.
view::TKvPreviewHost& SharedHost();

// A top-level window (not shown) to host previews in, destroyed with the object.
class ParentWindow {
 public:
  ParentWindow(int width, int height);
  ~ParentWindow();
  ParentWindow(const ParentWindow&) = delete;
  ParentWindow& operator=(const ParentWindow&) = delete;
  HWND get() const { return window_; }

 private:
  HWND window_ = nullptr;
};

// A Windows path for a file the tests wrote (UTF-8, as the test support gives it).
std::wstring WindowsPath(const std::string& path);

// The charset value under HKCU\Software\Kelvane, or with `low_integrity` under
// HKCU\Software\AppDataLow\Software\Kelvane; -1 when there is none.
int CharsetSettingValue(bool low_integrity = false);
void SetCharsetSetting(DWORD value, bool low_integrity = false);
// Deletes the value under both keys.
void DeleteCharsetSetting();

}  // namespace kelvane::testing
