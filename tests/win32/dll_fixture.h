#pragma once

// What the preview DLL's tests share: the frame the window must show, composed from the library's
// renderer and paint rules, and one fixture with the Windows scaffolding (a loaded DLL, a parent
// window, files under Z:, window messages).

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "render/charset.h"
#include "support/temp_folder.h"
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
// Bytes in use on every heap of the process.
std::size_t HeapBytesInUse();

// The screen's DPI as the handler reads it.
int ScreenDpi();

// The preview DLL of this build, loaded once.
view::TKvPreviewHost& SharedHost();

// A new object of the DLL's class `clsid` through DllGetClassObject, as interface T.
template <typename T>
view::ComPtr<T> NewDllObject(REFCLSID clsid, REFIID iid) {
  using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
  const auto get = reinterpret_cast<GetClassObjectFn>(
      reinterpret_cast<void*>(::GetProcAddress(SharedHost().Module(), "DllGetClassObject")));
  view::ComPtr<IClassFactory> factory;
  view::ComPtr<T> object;
  if (SUCCEEDED(get(clsid, IID_IClassFactory, reinterpret_cast<void**>(factory.GetAddressOf())))) {
    factory->CreateInstance(nullptr, iid, reinterpret_cast<void**>(object.GetAddressOf()));
  }
  return object;
}

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

// A preview pane of kWidth x kHeight in an unshown parent, the setting cleared before and after.
class DllTest : public ::testing::Test {
 public:
  static constexpr int kWidth = 600;
  static constexpr int kHeight = 200;

 protected:
  void SetUp() override;
  void TearDown() override;
  view::TKvPreviewHost& host() { return SharedHost(); }

  // Previews `bytes` written to a file named `name` (or read through a stream item); the window.
  HWND Open(const Bytes& bytes, const std::string& name = "disk.d64", bool stream = false);
  // The pane showing `data` at the screen's DPI, nothing selected.
  Scene SceneOf(const Bytes& data) const;
  // The window must show exactly `scene`.
  void ExpectShows(const Scene& scene, const std::string& what);

  LRESULT Send(UINT message, WPARAM wparam = 0, LPARAM lparam = 0);
  // Shift and Ctrl as GetKeyState reports them.
  static void SetModifiers(bool shift, bool ctrl);
  // A point in the middle of entry `entry`'s row (at scroll 0).
  LPARAM AtEntry(int entry) const;
  void Click(int entry, bool shift = false, bool ctrl = false);
  void Key(int key, bool shift = false, bool ctrl = false);

  TempFolder folder_{"kelvane-dll"};
  ParentWindow parent_{kWidth, kHeight};
  std::string image_path_;
  int dpi_ = 96;
  int row_height_ = 16;
};

}  // namespace kelvane::testing
