// The preview handler DLL under Wine, through LoadLibrary and DllGetClassObject as the shell's
// preview host uses it: result codes, unload counting, the window's pixels, input through real
// window messages, reading items, robustness and leaks.

#include <gtest/gtest.h>
#include <shlobj.h>
#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "formats/gcr.h"
#include "shell/preview_paint.h"
#include "shell/win32/kelvane_clsid.h"
#include "support/container_builder.h"
#include "support/disk_builder.h"
#include "support/gcr_builder.h"
#include "support/temp_folder.h"
#include "win32/import_patch.h"
#include "win32/preview_expect.h"

namespace kelvane::testing {
namespace {

using view::ComPtr;

constexpr HRESULT kAlreadyInitialised = static_cast<HRESULT>(0x800704DF);

using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
using CanUnloadFn = HRESULT(STDAPICALLTYPE*)();

GetClassObjectFn GetClassObject() {
  return reinterpret_cast<GetClassObjectFn>(
      reinterpret_cast<void*>(::GetProcAddress(SharedHost().Module(), "DllGetClassObject")));
}

HRESULT CanUnloadNow() {
  return reinterpret_cast<CanUnloadFn>(
      reinterpret_cast<void*>(::GetProcAddress(SharedHost().Module(), "DllCanUnloadNow")))();
}

ComPtr<IPreviewHandler> NewHandler() {
  ComPtr<IPreviewHandler> handler;
  EXPECT_EQ(SharedHost().Factory()->CreateInstance(
                nullptr, IID_IPreviewHandler, reinterpret_cast<void**>(handler.GetAddressOf())),
            S_OK);
  return handler;
}

template <typename T>
ComPtr<T> As(const ComPtr<IPreviewHandler>& handler) {
  ComPtr<T> out;
  EXPECT_EQ(handler.As(&out), S_OK);
  return out;
}

// What the user does in a scenario, through the window's own messages.
enum Action { kClick, kPress, kRelease, kDrag, kLoseCapture, kKey, kWheel, kFocusParent };
constexpr int kShift = 1, kCtrl = 2;

// One step: the action (on an entry, a key or a wheel delta) and what the window shows after it.
struct Step {
  const char* what;
  Action action;
  int at;
  int mods;
  std::vector<int> selected;
  int scroll = 0;
  bool focused = true;
};

class PreviewDll : public ::testing::Test {
 protected:
  static constexpr int kWidth = 600;
  static constexpr int kHeight = 200;

  void SetUp() override {
    ASSERT_TRUE(SharedHost().Ok()) << "the DLL or its factory was not found";
    DeleteCharsetSetting();
    dpi_ = ScreenDpi();
    row_height_ = KvRowHeight(KvScaleFromDpi(dpi_));
  }
  void TearDown() override {
    host().Close();
    DeleteCharsetSetting();
  }

  view::TKvPreviewHost& host() { return SharedHost(); }

  // Previews `bytes` written to a file named `name`.
  void Open(const Bytes& bytes, const std::string& name = "disk.d64", bool stream = false) {
    const std::wstring path = WindowsPath(folder_.Write(name, bytes));
    ASSERT_TRUE(host().Open(path, stream, parent_.get(), RECT{0, 0, kWidth, kHeight}))
        << std::hex << host().LastResult();
    data_ = bytes;
  }

  Scene SceneOf(const Bytes& data, int scroll = 0, std::vector<int> selected = {}) const {
    Scene scene;
    scene.data = data;
    scene.width = kWidth;
    scene.height = kHeight;
    scene.dpi = dpi_;
    scene.scroll = scroll;
    scene.selected = std::move(selected);
    return scene;
  }

  // The window must show exactly `scene`.
  void ExpectShows(const Scene& scene, const char* what) {
    const view::TKvWindowPixels shot = view::KvCaptureWindow(host().Window());
    ASSERT_EQ(shot.Width, scene.width) << what;
    ASSERT_EQ(shot.Height, scene.height) << what;
    std::string where;
    EXPECT_EQ(DifferingPixels(shot.Pixels, ExpectedFrame(scene), shot.Width, &where), 0)
        << what << ": first at " << where;
  }

  LRESULT Send(UINT message, WPARAM wparam = 0, LPARAM lparam = 0) {
    return ::SendMessageW(host().Window(), message, wparam, lparam);
  }
  // Mouse messages at the middle of entry `entry`'s row (at scroll 0).
  LPARAM AtEntry(int entry) const {
    return MAKELPARAM(40, (entry + 1) * row_height_ + row_height_ / 2);
  }
  void Click(int entry, bool shift = false, bool ctrl = false) {
    SetModifiers(shift, ctrl);
    Send(WM_LBUTTONDOWN, MK_LBUTTON, AtEntry(entry));
    Send(WM_LBUTTONUP, 0, AtEntry(entry));
    SetModifiers(false, false);
  }
  static void SetModifiers(bool shift, bool ctrl) {
    BYTE keys[256] = {};
    ::GetKeyboardState(keys);
    keys[VK_SHIFT] = keys[VK_LSHIFT] = shift ? 0x80 : 0;
    keys[VK_CONTROL] = keys[VK_LCONTROL] = ctrl ? 0x80 : 0;
    ::SetKeyboardState(keys);
  }
  void Key(int key, bool shift = false, bool ctrl = false) {
    SetModifiers(shift, ctrl);
    Send(WM_KEYDOWN, key, 1);
    Send(WM_KEYUP, key, 1 | 0xC0000000);
    SetModifiers(false, false);
  }

  // Previews `disk` and plays `steps` on it, checking the window after each.
  void Play(const Bytes& disk, const std::vector<Step>& steps);

  // Switches the charset by button and by chord; `low`: the setting is under AppDataLow.
  void SwitchesAndKeepsTheCharset(bool low);

  TempFolder folder_{"kelvane-preview"};
  ParentWindow parent_{kWidth, kHeight};
  Bytes data_;
  int dpi_ = 96;
  int row_height_ = 16;
};

TEST_F(PreviewDll, ResultCodesOfTheServerAndTheHandler) {
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(GetClassObject()(IID_IUnknown, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(out, nullptr);
  out = reinterpret_cast<void*>(1);
  ComPtr<IUnknown> outer = NewHandler();
  EXPECT_EQ(host().Factory()->CreateInstance(outer.Get(), IID_IPreviewHandler, &out),
            CLASS_E_NOAGGREGATION);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(host().Factory()->CreateInstance(nullptr, IID_IDropTarget, &out), E_NOINTERFACE);

  const ComPtr<IPreviewHandler> handler = NewHandler();
  const auto init = As<IInitializeWithItem>(handler);
  const auto site = As<IObjectWithSite>(handler);
  const auto window = As<IOleWindow>(handler);
  const RECT rect{0, 0, kWidth, kHeight};
  EXPECT_EQ(init->Initialize(nullptr, STGM_READ), E_INVALIDARG);
  EXPECT_EQ(handler->SetWindow(parent_.get(), nullptr), E_INVALIDARG);
  EXPECT_EQ(handler->SetRect(nullptr), E_INVALIDARG);
  EXPECT_EQ(handler->SetRect(&rect), S_OK);  // before any window
  EXPECT_EQ(handler->DoPreview(), E_FAIL);   // not initialised
  HWND own = reinterpret_cast<HWND>(1);
  EXPECT_EQ(window->GetWindow(&own), E_FAIL);
  EXPECT_EQ(own, nullptr);
  EXPECT_EQ(window->ContextSensitiveHelp(TRUE), E_NOTIMPL);
  EXPECT_EQ(site->GetSite(IID_IUnknown, &out), E_FAIL);
  EXPECT_EQ(handler->TranslateAccelerator(nullptr), S_FALSE);

  const std::wstring path = WindowsPath(folder_.Write("a.d64", D64WithEntries(3)));
  const ComPtr<IShellItem> item = view::KvItemForPath(path, false);
  ASSERT_TRUE(item);
  EXPECT_EQ(init->Initialize(item.Get(), STGM_READ), S_OK);
  EXPECT_EQ(init->Initialize(item.Get(), STGM_READ), kAlreadyInitialised);
  EXPECT_EQ(handler->DoPreview(), E_FAIL);  // no parent yet
  EXPECT_EQ(handler->SetWindow(parent_.get(), &rect), S_OK);
  EXPECT_EQ(handler->DoPreview(), S_OK);
  EXPECT_EQ(window->GetWindow(&own), S_OK);
  EXPECT_TRUE(::IsWindow(own));
  EXPECT_EQ(handler->SetFocus(), S_OK);
  HWND focus = nullptr;
  EXPECT_EQ(handler->QueryFocus(&focus), S_OK);
  EXPECT_EQ(focus, own);
  ::SetFocus(nullptr);
  EXPECT_EQ(handler->QueryFocus(&focus), E_FAIL);
  EXPECT_EQ(handler->DoPreview(), S_OK);  // again: a new window replaces the old one
  HWND second = nullptr;
  window->GetWindow(&second);
  EXPECT_FALSE(::IsWindow(own));
  EXPECT_TRUE(::IsWindow(second));

  // The site's frame is found; GetSite hands out the site's interfaces.
  const auto frame = view::Adopt(new view::TKvPreviewFrame());
  EXPECT_EQ(site->SetSite(static_cast<IPreviewHandlerFrame*>(frame.Get())), S_OK);
  ComPtr<IPreviewHandlerFrame> back;
  EXPECT_EQ(site->GetSite(IID_IPreviewHandlerFrame, reinterpret_cast<void**>(back.GetAddressOf())),
            S_OK);
  EXPECT_EQ(back.Get(), static_cast<IPreviewHandlerFrame*>(frame.Get()));
  back.Reset();
  EXPECT_EQ(site->SetSite(nullptr), S_OK);
  EXPECT_EQ(site->GetSite(IID_IUnknown, &out), E_FAIL);

  EXPECT_EQ(handler->Unload(), S_OK);
  EXPECT_FALSE(::IsWindow(second));
  EXPECT_EQ(window->GetWindow(&own), E_FAIL);
  EXPECT_EQ(handler->DoPreview(), E_FAIL);  // unloaded: not initialised any more
  EXPECT_EQ(init->Initialize(item.Get(), STGM_READ), S_OK);
}

TEST_F(PreviewDll, CanUnloadOnlyWhenNothingIsHeld) {
  host().Close();
  host().DropFactory();
  EXPECT_EQ(CanUnloadNow(), S_OK);
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(GetClassObject()(kKvPreviewHandlerClsid, IID_IClassFactory,
                             reinterpret_cast<void**>(factory.GetAddressOf())),
            S_OK);
  EXPECT_EQ(CanUnloadNow(), S_FALSE);  // a factory
  ComPtr<IPreviewHandler> handler;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IPreviewHandler,
                                    reinterpret_cast<void**>(handler.GetAddressOf())),
            S_OK);
  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  factory.Reset();
  EXPECT_EQ(CanUnloadNow(), S_FALSE);  // a handler and a lock
  handler.Reset();
  EXPECT_EQ(CanUnloadNow(), S_FALSE);  // the lock
  ASSERT_EQ(GetClassObject()(kKvPreviewHandlerClsid, IID_IClassFactory,
                             reinterpret_cast<void**>(factory.GetAddressOf())),
            S_OK);
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  EXPECT_EQ(CanUnloadNow(), S_FALSE);  // the factory that took the lock back
  factory.Reset();
  EXPECT_EQ(CanUnloadNow(), S_OK);
}

TEST_F(PreviewDll, PaintsTheRenderedListingAndTheButton) {
  const int expect_dpi =
      std::atoi(std::getenv("KELVANE_EXPECT_DPI") ? std::getenv("KELVANE_EXPECT_DPI") : "96");
  ASSERT_EQ(dpi_, expect_dpi) << "the screen's DPI is not the one this run is for";
  const Bytes disk = D64WithEntries(20);
  Open(disk);
  ExpectShows(SceneOf(disk), "after DoPreview");

  // Narrower than the listing: its left part, the button at the window's right edge over it.
  const RECT narrow{0, 0, 150, 90};
  host().Resize(narrow);
  Scene small = SceneOf(disk);
  small.width = 150;
  small.height = 90;
  ExpectShows(small, "narrower than the listing");
  host().Resize(RECT{0, 0, kWidth, kHeight});
  ExpectShows(SceneOf(disk), "resized back");

  // A file that no reader takes shows the page background and no button.
  Open(Bytes(5000, 0x33), "notes.txt");
  ExpectShows(SceneOf(Bytes(5000, 0x33)), "unreadable");
}

void PreviewDll::Play(const Bytes& disk, const std::vector<Step>& steps) {
  Open(disk);
  for (const Step& step : steps) {
    SetModifiers((step.mods & kShift) != 0, (step.mods & kCtrl) != 0);
    const WPARAM down = MK_LBUTTON | ((step.mods & kCtrl) != 0 ? MK_CONTROL : 0);
    switch (step.action) {
      case kClick:
        Send(WM_LBUTTONDOWN, down, AtEntry(step.at));
        Send(WM_LBUTTONUP, 0, AtEntry(step.at));
        break;
      case kPress:
        Send(WM_LBUTTONDOWN, down, AtEntry(step.at));
        break;
      case kRelease:
        Send(WM_LBUTTONUP, down & ~MK_LBUTTON, AtEntry(step.at));
        break;
      case kDrag:  // pressed on the entry, moved past the drag threshold, released there
        Send(WM_LBUTTONDOWN, down, AtEntry(step.at));
        Send(WM_MOUSEMOVE, down, MAKELPARAM(40 + 30, (step.at + 1) * row_height_ + 2));
        Send(WM_LBUTTONUP, 0, MAKELPARAM(70, (step.at + 1) * row_height_ + 2));
        break;
      case kLoseCapture:  // pressed, the capture taken away, then released
        Send(WM_LBUTTONDOWN, down, AtEntry(step.at));
        ::ReleaseCapture();
        Send(WM_LBUTTONUP, 0, AtEntry(step.at));
        break;
      case kKey:
        Send(WM_KEYDOWN, step.at, 1);
        Send(WM_KEYUP, step.at, 1 | 0xC0000000);
        break;
      case kWheel:
        Send(WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(static_cast<short>(step.at))),
             MAKELPARAM(10, 10));
        break;
      case kFocusParent:
        ::SetFocus(parent_.get());
        break;
    }
    SetModifiers(false, false);
    Scene scene = SceneOf(disk, step.scroll, step.selected);
    scene.focused = step.focused;
    ExpectShows(scene, step.what);
  }
}

TEST_F(PreviewDll, ClicksRangesAndFocusChangeTheTintedRows) {
  Play(D64WithEntries(8),
       {
           {"click (which also gives the focus)", kClick, 1, 0, {1}},
           {"shift click", kClick, 4, kShift, {1, 2, 3, 4}},
           {"ctrl click", kClick, 6, kCtrl, {1, 2, 3, 4, 6}},
           {"shift+ctrl click back from 6", kClick, 0, kShift | kCtrl, {0, 1, 2, 3, 4, 5, 6}},
           {"shift click from the same anchor", kClick, 4, kShift, {4, 5, 6}},  // drops the rest
           {"pressed on one of several keeps them", kPress, 5, 0, {4, 5, 6}},
           {"released in place", kRelease, 5, 0, {5}},
           {"shift click", kClick, 3, kShift, {3, 4, 5}},
           {"a drag keeps the selection", kDrag, 4, 0, {3, 4, 5}},
           {"ctrl pressed on a selected entry", kPress, 4, kCtrl, {3, 4, 5}},
           {"ctrl released deselects it", kRelease, 4, kCtrl, {3, 5}},
           {"capture lost before the release", kLoseCapture, 3, 0, {3, 5}},
           {"focus gone", kFocusParent, 0, 0, {3, 5}, 0, false},
           {"a click on the header clears", kClick, -1, 0, {}},
           {"click", kClick, 1, 0, {1}},
           {"a click below the entries clears", kClick, 30, 0, {}},
       });
}

TEST_F(PreviewDll, KeysAndTheWheelMoveTheSelectionAndScrollIt) {
  const int row = row_height_;
  const int page = kHeight / row;  // a page is the client's rows
  ASSERT_NE(kHeight % row, 0);
  std::vector<int> all(144);
  for (int k = 0; k < 144; ++k) all[k] = k;
  Play(D64WithEntries(144),
       {
           // Three rows a notch; less than a notch does nothing; never past either end.
           {"a wheel delta of 60", kWheel, 60, 0, {}, 0, false},
           {"-240", kWheel, -240, 0, {}, 6 * row, false},
           {"+120", kWheel, 120, 0, {}, 3 * row, false},
           {"far down, to the last row", kWheel, -120 * 100, 0, {}, 146 * row - kHeight, false},
           {"back to the top", kWheel, 120 * 100, 0, {}, 0, false},
           // A selected row cut by the window's bottom edge is tinted only where it shows.
           {"half-visible selected row", kClick, page - 1, 0, {page - 1}},
           {"escape clears the caret too", kKey, VK_ESCAPE, 0, {}},
           {"down without a caret", kKey, VK_DOWN, 0, {0}},
           {"down", kKey, VK_DOWN, 0, {1}},
           {"shift down", kKey, VK_DOWN, kShift, {1, 2}},
           {"escape", kKey, VK_ESCAPE, 0, {}},
           {"space without a caret", kKey, VK_SPACE, 0, {}},
           {"down", kKey, VK_DOWN, 0, {0}},
           {"ctrl down moves the caret alone", kKey, VK_DOWN, kCtrl, {0}},
           {"space at the caret", kKey, VK_SPACE, 0, {0, 1}},
           {"ctrl+a", kKey, 'A', kCtrl, all},
           // End goes past the rendered rows: the listing is rendered further and the caret's
           // row scrolled to the bottom of the view. Home scrolls up only as far as the first
           // entry's row. Page down brings the caret's row in at the bottom.
           {"end", kKey, VK_END, 0, {143}, 145 * row - kHeight},
           {"home", kKey, VK_HOME, 0, {0}, row},
           {"page down", kKey, VK_NEXT, 0, {page}, (page + 2) * row - kHeight},
       });

  // Keys the list does not take go on to the frame; the ones it takes do not.
  view::TKvPreviewFrame* frame = host().Frame();
  ASSERT_NE(frame, nullptr);
  const int before = frame->KeysOffered();
  Key(VK_DOWN);
  EXPECT_EQ(frame->KeysOffered(), before);
  Key(VK_LEFT);
  Key(VK_F5);
  Send(WM_SYSKEYDOWN, VK_MENU, 1 << 29);
  SetModifiers(true, false);
  Send(WM_KEYDOWN, VK_SHIFT, 1);
  SetModifiers(false, false);
  EXPECT_EQ(frame->KeysOffered(), before + 4);
  ASSERT_GE(frame->Offered().size(), 4u);
  const MSG& last = frame->Offered().back();
  EXPECT_EQ(last.hwnd, host().Window());
  EXPECT_EQ(last.message, static_cast<UINT>(WM_KEYDOWN));
  EXPECT_EQ(last.wParam, static_cast<WPARAM>(VK_SHIFT));
}

// Windows draws a window at its monitor's DPI, which the DLL asks for the pane; Wine has one
// screen DPI for all, so the DLL's GetDpiForWindow is given the pane's (import_patch.h).
TEST_F(PreviewDll, DrawsAtThePanesDpiAndFollowsItToAnotherMonitor) {
  int pane_dpi = -1;
  const ScopedImport dpi = WindowDpiAs(host().Module(), pane_dpi);
  ASSERT_TRUE(dpi.Ok());
  const Bytes disk = D64WithEntries(144);
  const auto at = [&](int scene_dpi, int scroll, std::vector<int> selected, const char* what) {
    Scene scene = SceneOf(disk, scroll, std::move(selected));
    scene.dpi = scene_dpi;
    scene.focused = true;
    ExpectShows(scene, what);
  };
  const auto open_and_select = [&] {
    Open(disk);
    row_height_ = KvRowHeight(KvScaleFromDpi(pane_dpi > 0 ? pane_dpi : dpi_));  // for the clicks
    Click(1);
    Click(3, true);
  };
  for (const int missing : {-1, 0}) {  // no GetDpiForWindow, or one that answers 0
    pane_dpi = missing;
    open_and_select();
    at(dpi_, 0, {1, 2, 3}, "the screen's DPI");
  }

  // 144 where the screen's is 96 (in the run at 144, the move to 96 is the one it lacks).
  constexpr int kRow96 = 16;
  constexpr int kRow144 = 24;
  ASSERT_EQ(KvRowHeight(KvScaleFromDpi(144)), kRow144);
  pane_dpi = 144;
  open_and_select();
  at(144, 0, {1, 2, 3}, "DoPreview reads the pane's DPI");

  // Moved to another monitor and back: the same entry stays at the top.
  Send(WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(-480)), 0);
  at(144, 12 * kRow144, {1, 2, 3}, "12 rows down");
  pane_dpi = 96;
  Send(WM_DPICHANGED_AFTERPARENT);
  at(96, 12 * kRow96, {1, 2, 3}, "moved to a 96-DPI monitor");
  pane_dpi = 144;
  Send(WM_DPICHANGED_AFTERPARENT);
  at(144, 12 * kRow144, {1, 2, 3}, "moved back");

  // The top row cut by the last one at the bottom edge: as far into it as before.
  pane_dpi = 96;
  Send(WM_DPICHANGED_AFTERPARENT);
  Key(VK_END);
  const int cut = 145 * kRow96 - kHeight;  // the last entry's row at the bottom
  at(96, cut, {143}, "the last entry at the bottom");
  ASSERT_NE(cut % kRow96, 0);
  pane_dpi = 144;
  Send(WM_DPICHANGED_AFTERPARENT);
  at(144, cut / kRow96 * kRow144 + cut % kRow96 * kRow144 / kRow96, {143}, "cut row, moved");

  // A parent given again through SetWindow may be on another monitor: its DPI is read.
  pane_dpi = 96;
  const RECT pane{0, 0, kWidth, kHeight};
  ASSERT_EQ(host().Handler()->SetWindow(parent_.get(), &pane), S_OK);
  ::SetFocus(host().Window());  // a window that changes parent may lose the focus
  at(96, cut, {143}, "SetWindow on a 96-DPI monitor");
}

// Explorer gives preview handlers its theme's background colour: it fills the pane around the
// listing (below its last row and right of it), and the listing's own pixels stay as drawn.
TEST_F(PreviewDll, TheHostsBackgroundColourFillsThePaneAroundTheListing) {
  const Bytes disk = D64WithEntries(5);
  host().background = RGB(0xF3, 0xE2, 0xD1);
  Open(disk);
  host().background.reset();
  Scene scene = SceneOf(disk);
  scene.background = 0xF3E2D1;
  ExpectShows(scene, "given before DoPreview");
  // Wider than the listing at 96 and at 144 DPI (28 columns of 16 or 24 pixels).
  scene.width = 800;
  host().Resize(RECT{0, 0, scene.width, kHeight});
  ExpectShows(scene, "wider");
  const view::TKvWindowPixels shot = view::KvCaptureWindow(host().Window());
  const auto colour_at = [&](int x, int y) {
    const std::size_t at = (static_cast<std::size_t>(y) * shot.Width + x) * 4;
    return static_cast<std::uint32_t>(shot.Pixels[at + 2] << 16 | shot.Pixels[at + 1] << 8 |
                                      shot.Pixels[at]);
  };
  EXPECT_EQ(colour_at(0, kHeight - 1), 0xF3E2D1u) << "below the last row";
  EXPECT_EQ(colour_at(scene.width - 1, 3 * row_height_), 0xF3E2D1u) << "right of the listing";

  ComPtr<IPreviewHandlerVisuals> visuals;
  ASSERT_EQ(ComPtr<IPreviewHandler>(host().Handler()).As(&visuals), S_OK);
  EXPECT_EQ(visuals->SetBackgroundColor(RGB(0x10, 0x20, 0x30)), S_OK);
  LOGFONTW font{};
  EXPECT_EQ(visuals->SetFont(&font), S_OK);
  EXPECT_EQ(visuals->SetTextColor(RGB(255, 255, 255)), S_OK);
  Click(1);
  scene.background = 0x102030;
  scene.selected = {1};
  scene.focused = true;
  ExpectShows(scene, "changed after DoPreview, a row selected");
}

void PreviewDll::SwitchesAndKeepsTheCharset(bool low) {
  const Bytes disk = D64WithEntries(5);
  Open(disk);
  const TKvRect button = KvButtonRect(kWidth, row_height_, dpi_);
  const LPARAM on_button = MAKELPARAM(button.Left + 3, button.Top + 3);
  Scene scene = SceneOf(disk);

  Send(WM_MOUSEMOVE, 0, on_button);
  scene.button_tint = kKvButtonHoverTint;
  ExpectShows(scene, "hover");
  Send(WM_LBUTTONDOWN, MK_LBUTTON, on_button);
  scene.button_tint = kKvButtonPressedTint;
  ExpectShows(scene, "pressed");
  Send(WM_LBUTTONUP, 0, MAKELPARAM(button.Left - 20, 50));  // released elsewhere
  scene.button_tint = kKvButtonHoverTint;
  ExpectShows(scene, "released outside: no switch");
  EXPECT_EQ(CharsetSettingValue(low), -1);

  Send(WM_LBUTTONDOWN, MK_LBUTTON, on_button);
  Send(WM_LBUTTONUP, 0, on_button);
  scene.charset = csLowerUpper;
  ExpectShows(scene, "clicked");
  EXPECT_EQ(CharsetSettingValue(low), 1);
  EXPECT_EQ(CharsetSettingValue(!low), -1);
  Send(WM_MOUSELEAVE);
  scene.button_tint = 0;
  ExpectShows(scene, "pointer gone");

  // The next preview starts from the setting, whatever the other key says.
  SetCharsetSetting(0, !low);
  Open(disk);
  ExpectShows(scene, "next DoPreview");

  // Ctrl and Shift together, one let go: one switch.
  SetModifiers(false, true);
  Send(WM_KEYDOWN, VK_CONTROL, 1);
  SetModifiers(true, true);
  Send(WM_KEYDOWN, VK_SHIFT, 1);
  Send(WM_KEYDOWN, VK_SHIFT, 1 | 1 << 30);  // auto-repeat changes nothing
  SetModifiers(false, true);
  Send(WM_KEYUP, VK_SHIFT, 1 | 0xC0000000);
  scene.charset = csUpperGraphics;
  ExpectShows(scene, "chord");
  EXPECT_EQ(CharsetSettingValue(low), 0);
  SetModifiers(false, false);
  Send(WM_KEYUP, VK_CONTROL, 1 | 0xC0000000);
  ExpectShows(scene, "the other key let go: no second switch");

  // Another key in between cancels it.
  SetModifiers(true, true);
  Send(WM_KEYDOWN, VK_CONTROL, 1);
  Send(WM_KEYDOWN, VK_SHIFT, 1);
  Send(WM_KEYDOWN, 'X', 1);
  SetModifiers(false, true);
  Send(WM_KEYUP, VK_SHIFT, 1 | 0xC0000000);
  SetModifiers(false, false);
  ExpectShows(scene, "chord with another key");
  EXPECT_EQ(CharsetSettingValue(low), 0);
}

// The setting is kept where the process may write it: at low integrity HKEY_CURRENT_USER only
// under Software\AppDataLow (Wine runs at high integrity, so the DLL's token read is given the
// level).
TEST_F(PreviewDll, TheButtonAndTheChordSwitchTheCharsetAndKeepIt) {
  for (const bool low : {false, true}) {
    SCOPED_TRACE(low ? "low integrity" : "medium integrity");
    DeleteCharsetSetting();
    const ScopedImport integrity = IntegrityAs(
        host().Module(), low ? SECURITY_MANDATORY_LOW_RID : SECURITY_MANDATORY_MEDIUM_RID);
    ASSERT_TRUE(integrity.Ok());
    SwitchesAndKeepsTheCharset(low);
  }
}

TEST_F(PreviewDll, ReadsFilesStreamsAndGcrImages) {
  const Bytes disk = D64WithEntries(12);
  const Bytes g64 = ReadTestFile("tests/data/cc1541.g64");
  const Bytes g64_as_d64 = DkGcrImageToD64(g64, ".g64").ImageBytes;
  const Bytes d71 = ReadTestFile("tests/data/cc1541.d71");
  const Bytes g71 = BuildG71(d71);
  const Bytes tape = BuildT64(
      {{"GAME", 0x82, 0x0801, PatternBytes(300, 1)}, {"NOTES", 0x81, 0x1000, PatternBytes(90, 2)}},
      {.tape_name = "MY TAPE"});
  const Bytes lynx = ReadTestFile("tests/data/cbmconvert.lnx");
  Bytes big = disk;
  big.resize(16 * 1024 * 1024 + 1);
  const Bytes limit(big.begin(), big.end() - 1);
  const Bytes nothing;
  struct Case {
    const char* what;
    const Bytes& file;
    const char* name;
    bool stream;
    const Bytes& shown;  // what the window must show, detected under `shown_as`
    const char* shown_as = ".d64";
  };
  const Case cases[] = {
      {"through the stream item", disk, "stream.d64", true, disk},
      {"a G64 as its D64", g64, "peer.g64", false, g64_as_d64},
      {"a G64 through a stream", g64, "peer.g64", true, g64_as_d64},
      // A G71 shows both sides, as its D71; a GCR image is known by its signature whatever its
      // name.
      {"a G71 as its D71", g71, "peer.g71", false, d71, ".d71"},
      {"a G71 stream under another name", g71, "peer.img", true, d71, ".d71"},
      // Containers of whole files, as the renderer draws them (and as kelvane render does).
      {"a T64", tape, "tape.t64", false, tape, ".t64"},
      {"a Lynx archive through a stream", lynx, "archive.lnx", true, lynx, ".lnx"},
      // More than 16 MiB: the read fails, Initialize still succeeds, the preview is empty.
      {"a file over 16 MiB", big, "big.d64", false, nothing},
      {"a stream over 16 MiB", big, "big.d64", true, nothing},
      // Exactly 16 MiB is read (and, fitting no format, shows nothing either, without failing).
      {"16 MiB exactly", limit, "limit.d64", false, limit},
  };
  for (const Case& c : cases) {
    Open(c.file, c.name, c.stream);
    Scene scene = SceneOf(c.shown);
    scene.name = c.shown_as;
    ExpectShows(scene, c.what);
  }
}

// Runs kelvane-view.exe (beside the DLL) with `arguments`; its exit code.
DWORD RunViewer(const std::wstring& arguments) {
  std::wstring exe = WindowsPath(KELVANE_PREVIEW_DLL);
  exe = exe.substr(0, exe.find_last_of(L'\\') + 1) + L"kelvane-view.exe";
  std::wstring command = L"\"" + exe + L"\" " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
    return 0xFFFFFFFF;
  }
  ::WaitForSingleObject(process.hProcess, 60000);
  DWORD code = 0xFFFFFFFF;
  ::GetExitCodeProcess(process.hProcess, &code);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  return code;
}

TEST_F(PreviewDll, KelvaneViewSavesThePreviewAsABitmap) {
  const Bytes disk = D64WithEntries(9);
  const std::wstring image = WindowsPath(folder_.Write("view.d64", disk));
  Scene scene = SceneOf(disk);
  scene.width = 320;
  scene.height = 150;
  for (const wchar_t* mode : {L"", L" --stream"}) {
    const std::wstring shot = WindowsPath(folder_.Path("shot.bmp"));
    ASSERT_EQ(RunViewer(L"\"" + image + L"\" --size 320x150 --shot \"" + shot + L"\"" + mode), 0u);
    const Bytes bmp = folder_.Read("shot.bmp");
    ASSERT_EQ(bmp.size(), 54u + 320 * 150 * 4);
    EXPECT_EQ(bmp[0], 'B');
    EXPECT_EQ(bmp[1], 'M');
    const auto word32 = [&](std::size_t at) {
      return static_cast<std::int32_t>(bmp[at] | bmp[at + 1] << 8 | bmp[at + 2] << 16 |
                                       static_cast<std::uint32_t>(bmp[at + 3]) << 24);
    };
    EXPECT_EQ(word32(18), 320);
    EXPECT_EQ(word32(22), -150);  // top-down
    EXPECT_EQ(bmp[28], 32);
    const Bytes pixels(bmp.begin() + 54, bmp.end());
    std::string where;
    EXPECT_EQ(DifferingPixels(pixels, ExpectedFrame(scene), 320, &where), 0) << where;
  }
  EXPECT_EQ(RunViewer(L"\"" + image + L"\" --size 0x10"), 2u);
  EXPECT_EQ(RunViewer(L"--frobnicate"), 2u);
  EXPECT_EQ(RunViewer(L"\"" + WindowsPath(folder_.Path("missing.d64")) + L"\""), 1u);
  // Another handler DLL than the one beside the program.
  const std::wstring shot = WindowsPath(folder_.Path("other.bmp"));
  EXPECT_EQ(RunViewer(L"\"" + image + L"\" --dll \"" + WindowsPath(KELVANE_PREVIEW_DLL) +
                      L"\" --shot \"" + shot + L"\""),
            0u);
  EXPECT_EQ(
      RunViewer(L"\"" + image + L"\" --dll \"" + WindowsPath(folder_.Path("none.dll")) + L"\""),
      1u);
}

// The installers end with kelvane-view --associations-changed, which tells the shell that
// handlers came or went. Wine shows no effect of the notice, so the test's own import of
// SHChangeNotify records the call the program makes.
TEST_F(PreviewDll, KelvaneViewTellsTheShellThatAssociationsChanged) {
  std::vector<ShellNotice> seen;
  {
    const ScopedImport record = RecordShellNotices(::GetModuleHandleW(nullptr), seen);
    ASSERT_TRUE(record.Ok());
    view::KvTellShellAssociationsChanged();
  }
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].event, SHCNE_ASSOCCHANGED);
  EXPECT_EQ(seen[0].flags, static_cast<UINT>(SHCNF_IDLIST));
  EXPECT_EQ(RunViewer(L"--associations-changed"), 0u) << "the flag needs no image";
  EXPECT_EQ(RunViewer(L"--associations-changed \"" + WindowsPath(folder_.Path("x.d64")) + L"\""),
            2u);
}

// The detection name a saved fuzz input stands for, by its corpus folder.
std::wstring CorpusName(const std::string& folder) {
  if (folder.rfind("open_", 0) == 0) return L"input." + view::Widen(folder.substr(5));
  if (folder == "g64" || folder == "gcr_track") return L"input.g64";
  if (folder == "nib") return L"input.nib";
  if (folder == "pc64") return L"input.p00";
  return L"input.d64";
}

TEST_F(PreviewDll, EveryTestImageAndSavedFuzzInputPreviewsWithoutACrash) {
  int previewed = 0;
  const auto preview = [&](IShellItem* item, const std::string& what) {
    ASSERT_TRUE(host().OpenItem(item, parent_.get(), RECT{0, 0, kWidth, kHeight}))
        << what << std::hex << " " << host().LastResult();
    const view::TKvWindowPixels shot = view::KvCaptureWindow(host().Window());
    ASSERT_EQ(shot.Width, kWidth) << what;
    Send(WM_KEYDOWN, VK_END, 1);
    Send(WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(-120)), 0);
    view::KvCaptureWindow(host().Window());
    host().Close();
    ++previewed;
  };
  for (const auto& file : std::filesystem::recursive_directory_iterator("tests/data")) {
    if (!file.is_regular_file()) continue;
    const std::wstring path = std::filesystem::absolute(file.path()).wstring();
    const ComPtr<IShellItem> item = view::KvItemForPath(path, false);
    ASSERT_TRUE(item) << file.path();
    preview(item.Get(), file.path().string());
  }
  for (const auto& folder : std::filesystem::directory_iterator("fuzz/corpus")) {
    const std::wstring name = CorpusName(folder.path().filename().string());
    for (const auto& file : std::filesystem::directory_iterator(folder.path())) {
      const auto item = view::Adopt<IShellItem>(
          new view::TKvStreamItem(view::KvMemoryStream(ReadTestFile(file.path().string())), name));
      preview(item.Get(), file.path().string());
    }
  }
  EXPECT_GT(previewed, 1000);
}

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

int ThreadWindows() {
  int count = 0;
  ::EnumThreadWindows(
      ::GetCurrentThreadId(),
      [](HWND window, LPARAM counter) {
        ++*reinterpret_cast<int*>(counter);
        ::EnumChildWindows(
            window,
            [](HWND, LPARAM inner) {
              ++*reinterpret_cast<int*>(inner);
              return TRUE;
            },
            counter);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&count));
  return count;
}

TEST_F(PreviewDll, FiveHundredPreviewCyclesLeakNothing) {
  const std::wstring path = WindowsPath(folder_.Write("cycle.d64", D64WithEntries(40)));
  const ComPtr<IShellItem> item = view::KvItemForPath(path, false);
  ASSERT_TRUE(item);
  const auto cycle = [&](int k) {
    ComPtr<IPreviewHandler> handler = NewHandler();
    const auto init = As<IInitializeWithItem>(handler);
    ASSERT_EQ(init->Initialize(item.Get(), STGM_READ), S_OK);
    const auto frame = view::Adopt(new view::TKvPreviewFrame());
    As<IObjectWithSite>(handler)->SetSite(static_cast<IPreviewHandlerFrame*>(frame.Get()));
    const RECT rect{0, 0, kWidth, kHeight};
    ASSERT_EQ(handler->SetWindow(parent_.get(), &rect), S_OK);
    ASSERT_EQ(handler->DoPreview(), S_OK);
    const RECT other{0, 0, kWidth - 1 - k % 7, kHeight + k % 5};
    ASSERT_EQ(handler->SetRect(&other), S_OK);
    HWND window = nullptr;
    As<IOleWindow>(handler)->GetWindow(&window);
    ::SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(20, 40));
    ::SendMessageW(window, WM_LBUTTONUP, 0, MAKELPARAM(20, 40));
    ::SendMessageW(window, WM_MOUSEMOVE, 0, MAKELPARAM(kWidth - 20, 4));  // hover the button
    view::KvCaptureWindow(window);
    ASSERT_EQ(handler->Unload(), S_OK);
    EXPECT_FALSE(::IsWindow(window));
  };
  for (int k = 0; k < 10; ++k) cycle(k);
  const std::size_t heap_before = HeapBytesInUse();
  const int gdi_before = GdiObjectsInUse();
  const int windows_before = ThreadWindows();
  for (int k = 0; k < 1500; ++k) cycle(k);
  EXPECT_EQ(ThreadWindows(), windows_before);
  EXPECT_EQ(GdiObjectsInUse(), gdi_before);
  // One image, listing or row model left behind per cycle would be megabytes by now.
  const std::size_t heap_after = HeapBytesInUse();
  EXPECT_LT(heap_after, heap_before + 64 * 1024) << heap_before << " -> " << heap_after;
  EXPECT_GT(heap_before, 0u);
}

}  // namespace
}  // namespace kelvane::testing
