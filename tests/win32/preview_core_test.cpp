// What the preview handler does when one of its replaceable operations fails or is missing:
// not visible through the DLL, so these tests build the handler into the test and replace the
// entry points directly.

#include <gtest/gtest.h>
#include <windows.h>

#include <stdexcept>

#include "shell/preview_paint.h"
#include "shell/win32/entry_points.h"
#include "shell/win32/preview_handler.h"
#include "support/disk_builder.h"
#include "support/temp_folder.h"
#include "view/preview_host.h"
#include "win32/preview_expect.h"

namespace kelvane::testing {
namespace {

using win::KvEntryPoints;
using win::TKvPreviewHandler;

int g_creations = 0;
int g_failures_left = 0;

HWND WINAPI FlakyCreate(DWORD ex_style, LPCWSTR class_name, LPCWSTR title, DWORD style, int x,
                        int y, int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                        LPVOID parameter) {
  ++g_creations;
  if (g_failures_left > 0) {
    --g_failures_left;
    return nullptr;
  }
  return ::CreateWindowExW(ex_style, class_name, title, style, x, y, width, height, parent, menu,
                           instance, parameter);
}

bool ThrowingRender(ByteView, const std::string&, int, int, int, TDkRenderImage&, TDkCharset) {
  throw std::runtime_error("render failed");
}

int g_written = -1;
void RecordCharset(TDkCharset charset) {
  g_written = charset;
}

SHORT WINAPI BothModifiersDown(int key) {
  return key == VK_SHIFT || key == VK_CONTROL ? static_cast<SHORT>(0x8000) : 0;
}

class PreviewCore : public ::testing::Test {
 protected:
  void SetUp() override {
    win::SetModuleInstance(::GetModuleHandleW(nullptr));
    win::KvResetEntryPoints();
    g_creations = g_failures_left = 0;
    g_written = -1;
    path_ = WindowsPath(folder_.Write("core.d64", D64WithEntries(6)));
    handler_ = view::Adopt(new TKvPreviewHandler());
    ASSERT_EQ(handler_->Initialize(view::KvItemForPath(path_, false).Get(), STGM_READ), S_OK);
    ASSERT_EQ(handler_->SetWindow(parent_.get(), &rect_), S_OK);
  }
  void TearDown() override {
    handler_.Reset();
    win::KvResetEntryPoints();
    DeleteCharsetSetting();
  }
  HWND Window() {
    HWND window = nullptr;
    handler_->GetWindow(&window);
    return window;
  }

  TempFolder folder_{"kelvane-core"};
  ParentWindow parent_{300, 120};
  RECT rect_{0, 0, 300, 120};
  std::wstring path_;
  view::ComPtr<TKvPreviewHandler> handler_;
};

TEST_F(PreviewCore, AFailedWindowCreationIsTriedOnceMore) {
  KvEntryPoints().MakeWindow = FlakyCreate;
  g_failures_left = 1;
  EXPECT_EQ(handler_->DoPreview(), S_OK);
  EXPECT_EQ(g_creations, 2);
  EXPECT_TRUE(::IsWindow(Window()));

  g_creations = 0;
  g_failures_left = 2;
  EXPECT_EQ(handler_->DoPreview(), E_FAIL);
  EXPECT_EQ(g_creations, 2);
  EXPECT_EQ(Window(), nullptr);
}

TEST_F(PreviewCore, ARenderThatRaisesLeavesAnEmptyPreviewWithoutTheButton) {
  KvEntryPoints().Render = ThrowingRender;
  ASSERT_EQ(handler_->DoPreview(), S_OK);
  Scene empty;
  empty.width = 300;
  empty.height = 120;
  const view::TKvWindowPixels shot = view::KvCaptureWindow(Window());
  EXPECT_EQ(DifferingPixels(shot.Pixels, ExpectedFrame(empty), 300), 0);
  // Without a listing there is no charset switch, by button or by chord.
  KvEntryPoints().KeyState = BothModifiersDown;
  KvEntryPoints().WriteCharset = RecordCharset;
  ::SendMessageW(Window(), WM_KEYDOWN, VK_CONTROL, 1);
  ::SendMessageW(Window(), WM_KEYUP, VK_CONTROL, 1 | 0xC0000000);
  const int dpi = ScreenDpi();
  const TKvRect button = KvButtonRect(300, KvRowHeight(KvScaleFromDpi(dpi)), dpi);
  ::SendMessageW(Window(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(button.Left + 2, 2));
  ::SendMessageW(Window(), WM_LBUTTONUP, 0, MAKELPARAM(button.Left + 2, 2));
  EXPECT_EQ(g_written, -1);
}

TEST_F(PreviewCore, TheSettingIsReadAndWrittenThroughTheTable) {
  // No reader: the upper-case/graphics set. No writer: the switch still happens.
  KvEntryPoints().ReadCharset = nullptr;
  KvEntryPoints().WriteCharset = nullptr;
  ASSERT_EQ(handler_->DoPreview(), S_OK);
  handler_->ToggleCharset();
  EXPECT_EQ(CharsetSettingValue(), -1);
  Scene scene;
  scene.data = D64WithEntries(6);
  scene.width = 300;
  scene.height = 120;
  scene.dpi = ScreenDpi();
  scene.charset = csLowerUpper;
  const view::TKvWindowPixels shot = view::KvCaptureWindow(Window());
  EXPECT_EQ(DifferingPixels(shot.Pixels, ExpectedFrame(scene), 300), 0);

  // The key state comes from the table too: a chord with both modifiers "down".
  KvEntryPoints().WriteCharset = RecordCharset;
  KvEntryPoints().KeyState = BothModifiersDown;
  ::SendMessageW(Window(), WM_KEYDOWN, VK_SHIFT, 1);
  KvEntryPoints().KeyState = [](int) -> SHORT { return 0; };
  ::SendMessageW(Window(), WM_KEYUP, VK_SHIFT, 1 | 0xC0000000);
  EXPECT_EQ(g_written, csUpperGraphics);
}

}  // namespace
}  // namespace kelvane::testing
