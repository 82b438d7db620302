// The preview handler DLL under Wine, through LoadLibrary and DllGetClassObject as the shell's
// preview host uses it: its COM contract, what the pane shows after each thing a user does,
// reading items, kelvane-view, and leaks.

#include <gtest/gtest.h>
#include <shlobj.h>
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <optional>
#include <string>
#include <vector>

#include "formats/gcr.h"
#include "shell/preview_paint.h"
#include "shell/win32/kelvane_clsid.h"
#include "support/container_builder.h"
#include "support/disk_builder.h"
#include "support/gcr_builder.h"
#include "win32/dll_fixture.h"
#include "win32/import_patch.h"

namespace kelvane::testing {
namespace {

using view::ComPtr;

HRESULT CanUnloadNow() {
  using CanUnloadFn = HRESULT(STDAPICALLTYPE*)();
  return reinterpret_cast<CanUnloadFn>(
      reinterpret_cast<void*>(::GetProcAddress(SharedHost().Module(), "DllCanUnloadNow")))();
}

HRESULT GetClassObject(REFCLSID clsid, IClassFactory** factory) {
  using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
  return reinterpret_cast<GetClassObjectFn>(
      reinterpret_cast<void*>(::GetProcAddress(SharedHost().Module(), "DllGetClassObject")))(
      clsid, IID_IClassFactory, reinterpret_cast<void**>(factory));
}

ComPtr<IPreviewHandler> NewHandler() {
  return NewDllObject<IPreviewHandler>(kKvPreviewHandlerClsid, IID_IPreviewHandler);
}

template <typename T>
ComPtr<T> As(const ComPtr<IPreviewHandler>& handler) {
  ComPtr<T> out;
  EXPECT_EQ(handler.As(&out), S_OK);
  return out;
}

class PreviewDll : public DllTest {};

TEST_F(PreviewDll, TheServersAndTheHandlersComContract) {
  IClassFactory* none = reinterpret_cast<IClassFactory*>(1);
  EXPECT_EQ(GetClassObject(IID_IUnknown, &none), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(none, nullptr);
  void* out = nullptr;
  ComPtr<IUnknown> outer = NewHandler();
  EXPECT_EQ(host().Factory()->CreateInstance(outer.Get(), IID_IPreviewHandler, &out),
            CLASS_E_NOAGGREGATION);

  const ComPtr<IPreviewHandler> handler = NewHandler();
  const auto init = As<IInitializeWithItem>(handler);
  const auto site = As<IObjectWithSite>(handler);
  const auto window = As<IOleWindow>(handler);
  const RECT rect{0, 0, kWidth, kHeight};
  EXPECT_EQ(handler->DoPreview(), E_FAIL);  // not initialised
  const ComPtr<IShellItem> item =
      view::KvItemForPath(WindowsPath(folder_.Write("a.d64", D64WithEntries(3))), false);
  ASSERT_TRUE(item);
  EXPECT_EQ(init->Initialize(item.Get(), STGM_READ), S_OK);
  EXPECT_EQ(init->Initialize(item.Get(), STGM_READ), HRESULT_FROM_WIN32(ERROR_ALREADY_INITIALIZED));
  EXPECT_EQ(handler->DoPreview(), E_FAIL);  // no parent yet
  EXPECT_EQ(handler->SetWindow(parent_.get(), &rect), S_OK);
  EXPECT_EQ(handler->DoPreview(), S_OK);
  HWND own = nullptr;
  EXPECT_EQ(window->GetWindow(&own), S_OK);
  EXPECT_EQ(handler->SetFocus(), S_OK);
  HWND focus = nullptr;
  EXPECT_EQ(handler->QueryFocus(&focus), S_OK);
  EXPECT_EQ(focus, own);
  EXPECT_EQ(handler->DoPreview(), S_OK);  // again: a new window replaces the old one
  HWND second = nullptr;
  window->GetWindow(&second);
  EXPECT_FALSE(::IsWindow(own));

  // The site's frame is kept and handed back; GetSite fails without one.
  const auto frame = view::Adopt(new view::TKvPreviewFrame());
  EXPECT_EQ(site->SetSite(static_cast<IPreviewHandlerFrame*>(frame.Get())), S_OK);
  ComPtr<IPreviewHandlerFrame> back;
  EXPECT_EQ(site->GetSite(IID_IPreviewHandlerFrame, reinterpret_cast<void**>(back.GetAddressOf())),
            S_OK);
  EXPECT_EQ(back.Get(), static_cast<IPreviewHandlerFrame*>(frame.Get()));
  EXPECT_EQ(site->SetSite(nullptr), S_OK);
  EXPECT_EQ(site->GetSite(IID_IUnknown, &out), E_FAIL);

  EXPECT_EQ(handler->Unload(), S_OK);
  EXPECT_FALSE(::IsWindow(second));
  EXPECT_EQ(handler->DoPreview(), E_FAIL);  // unloaded: not initialised any more
  EXPECT_EQ(init->Initialize(item.Get(), STGM_READ), S_OK);
}

TEST_F(PreviewDll, CanUnloadOnlyWhenNothingIsHeld) {
  host().DropFactory();
  EXPECT_EQ(CanUnloadNow(), S_OK);
  ComPtr<IPreviewHandler> handler = NewHandler();
  EXPECT_EQ(CanUnloadNow(), S_FALSE);  // a handler
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(GetClassObject(kKvPreviewHandlerClsid, factory.GetAddressOf()), S_OK);
  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  factory.Reset();
  handler.Reset();
  EXPECT_EQ(CanUnloadNow(), S_FALSE);  // the lock
  ASSERT_EQ(GetClassObject(kKvPreviewHandlerClsid, factory.GetAddressOf()), S_OK);
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  factory.Reset();
  EXPECT_EQ(CanUnloadNow(), S_OK);
}

// What a user does, through the window's own messages. `at` is the entry, key, wheel delta, new
// DPI or colour the action takes.
enum Action {
  kNothing,
  kClick,
  kPress,
  kRelease,
  kDrag,         // pressed on the entry, moved past the drag threshold, released there
  kLoseCapture,  // pressed, the capture taken away, then released
  kKey,
  kWheel,
  kFocusParent,
  kResize,     // to `at` x `mods` pixels
  kMoveToDpi,  // the pane moved to a monitor of `at` DPI
  kSetWindow,  // the host gives the parent again, on a monitor of `at` DPI
  kColour,     // the host's background colour (0xRRGGBB) through IPreviewHandlerVisuals
  kHover,      // the pointer over the charset button
  kButtonDown,
  kButtonUp,  // released on the button (`at` 1) or beside it
  kLeave,     // the pointer leaves the window
  kChord,     // Ctrl and Shift pressed together and Shift let go (`at` 'X': with X between)
};
constexpr int kShift = 1, kCtrl = 2;

// One step and what the window shows after it; unless `setting` is -2, also the charset value
// kept (-1: none).
struct Step {
  const char* what;
  Action action;
  int at = 0;
  int mods = 0;
  std::vector<int> selected = {};
  int scroll = 0;
  bool focused = true;
  int setting = -2;
};

struct Scenario {
  const char* name;
  Bytes disk;
  std::vector<Step> steps;
  int pane_dpi = 0;  // GetDpiForWindow's answer (-1: missing); 0 for the screen's
  std::optional<COLORREF> background = {};
  bool low_integrity = false;
};

// Previews the scenario's disk and plays its steps, checking the whole frame after each.
class Scenarios : public DllTest, public ::testing::WithParamInterface<Scenario> {};

TEST_P(Scenarios, EachStepShowsWhatItMust) {
  const Scenario& scenario = GetParam();
  int pane_dpi = scenario.pane_dpi == 0 ? dpi_ : scenario.pane_dpi;
  // Windows draws a window at its monitor's DPI, which the DLL asks for the pane, and keeps the
  // setting at low integrity under AppDataLow; Wine has one screen DPI and runs at high integrity,
  // so the DLL's GetDpiForWindow and token read are given the pane's (import_patch.h).
  const ScopedImport dpi = WindowDpiAs(host().Module(), pane_dpi);
  const ScopedImport integrity =
      IntegrityAs(host().Module(), scenario.low_integrity ? SECURITY_MANDATORY_LOW_RID
                                                          : SECURITY_MANDATORY_MEDIUM_RID);
  ASSERT_TRUE(dpi.Ok() && integrity.Ok());
  host().background = scenario.background;
  Open(scenario.disk);
  host().background.reset();
  Scene shown = SceneOf(scenario.disk);
  shown.dpi = pane_dpi > 0 ? pane_dpi : dpi_;
  if (scenario.background) {
    const COLORREF c = *scenario.background;
    shown.background = GetRValue(c) << 16 | GetGValue(c) << 8 | GetBValue(c);
  }
  const auto button = [&] {
    const TKvRect rect = KvButtonRect(shown.width, row_height_, shown.dpi);
    return MAKELPARAM(rect.Left + 3, rect.Top + 3);
  };
  for (const Step& step : scenario.steps) {
    row_height_ = KvRowHeight(KvScaleFromDpi(shown.dpi));
    SetModifiers((step.mods & kShift) != 0, (step.mods & kCtrl) != 0);
    const WPARAM down = MK_LBUTTON | ((step.mods & kCtrl) != 0 ? MK_CONTROL : 0);
    switch (step.action) {
      case kNothing:
        break;
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
      case kDrag:
        Send(WM_LBUTTONDOWN, down, AtEntry(step.at));
        Send(WM_MOUSEMOVE, down, MAKELPARAM(70, (step.at + 1) * row_height_ + 2));
        Send(WM_LBUTTONUP, 0, MAKELPARAM(70, (step.at + 1) * row_height_ + 2));
        break;
      case kLoseCapture:
        Send(WM_LBUTTONDOWN, down, AtEntry(step.at));
        ::ReleaseCapture();
        Send(WM_LBUTTONUP, 0, AtEntry(step.at));
        break;
      case kKey:
        Send(WM_KEYDOWN, step.at, 1);
        Send(WM_KEYUP, step.at, 1 | 0xC0000000);
        break;
      case kWheel:
        Send(WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(static_cast<short>(step.at))), 0);
        break;
      case kFocusParent:
        ::SetFocus(parent_.get());
        break;
      case kResize:
        host().Resize(RECT{0, 0, step.at, step.mods});
        shown.width = step.at;
        shown.height = step.mods;
        break;
      case kMoveToDpi:
        pane_dpi = shown.dpi = step.at;
        Send(WM_DPICHANGED_AFTERPARENT);
        break;
      case kSetWindow: {
        pane_dpi = shown.dpi = step.at;
        const RECT pane{0, 0, shown.width, shown.height};
        ASSERT_EQ(host().Handler()->SetWindow(parent_.get(), &pane), S_OK);
        ::SetFocus(host().Window());  // a window that changes parent may lose the focus
        break;
      }
      case kColour: {
        ComPtr<IPreviewHandlerVisuals> visuals;
        ASSERT_EQ(ComPtr<IPreviewHandler>(host().Handler()).As(&visuals), S_OK);
        const int c = step.at;
        EXPECT_EQ(visuals->SetBackgroundColor(RGB(c >> 16, (c >> 8) & 0xFF, c & 0xFF)), S_OK);
        shown.background = static_cast<std::uint32_t>(c);
        break;
      }
      case kHover:
        Send(WM_MOUSEMOVE, 0, button());
        shown.button_tint = kKvButtonHoverTint;
        break;
      case kButtonDown:
        Send(WM_LBUTTONDOWN, MK_LBUTTON, button());
        shown.button_tint = kKvButtonPressedTint;
        break;
      case kButtonUp:
        Send(WM_LBUTTONUP, 0, step.at == 1 ? button() : MAKELPARAM(20, 50));
        shown.button_tint = kKvButtonHoverTint;
        if (step.at == 1)
          shown.charset = shown.charset == csUpperGraphics ? csLowerUpper : csUpperGraphics;
        break;
      case kLeave:
        Send(WM_MOUSELEAVE);
        shown.button_tint = 0;
        break;
      case kChord:
        SetModifiers(false, true);
        Send(WM_KEYDOWN, VK_CONTROL, 1);
        SetModifiers(true, true);
        Send(WM_KEYDOWN, VK_SHIFT, 1);
        Send(WM_KEYDOWN, VK_SHIFT, 1 | 1 << 30);  // auto-repeat changes nothing
        if (step.at != 0) Send(WM_KEYDOWN, step.at, 1);
        SetModifiers(false, true);
        Send(WM_KEYUP, VK_SHIFT, 1 | 0xC0000000);
        SetModifiers(false, false);
        Send(WM_KEYUP, VK_CONTROL, 1 | 0xC0000000);  // the other key: no second switch
        if (step.at == 0)
          shown.charset = shown.charset == csUpperGraphics ? csLowerUpper : csUpperGraphics;
        break;
    }
    SetModifiers(false, false);
    shown.selected = step.selected;
    shown.scroll = step.scroll;
    shown.focused = step.focused;
    ExpectShows(shown, step.what);
    if (step.setting != -2) {
      EXPECT_EQ(CharsetSettingValue(scenario.low_integrity), step.setting) << step.what;
      EXPECT_EQ(CharsetSettingValue(!scenario.low_integrity), -1) << step.what;
    }
  }
}

std::vector<Scenario> AllScenarios() {
  const int dpi = ScreenDpi();
  const int row = KvRowHeight(KvScaleFromDpi(dpi));
  const int page = DllTest::kHeight / row;  // a page is the client's rows
  constexpr int kHeight = DllTest::kHeight;
  std::vector<int> all(144);
  for (int k = 0; k < 144; ++k) all[k] = k;
  constexpr int kRow96 = 16, kRow144 = 24;
  const int cut = 145 * kRow96 - kHeight;  // the last entry's row at the bottom at 96 DPI
  return {
      {"selection",
       D64WithEntries(8),
       {
           {"after DoPreview", kNothing, 0, 0, {}, 0, false},
           // Narrower than the listing: its left part, the button at the window's right edge.
           {"narrower than the listing", kResize, 150, 90, {}, 0, false},
           {"resized back", kResize, DllTest::kWidth, kHeight, {}, 0, false},
           {"click (which also gives the focus)", kClick, 1, 0, {1}},
           {"shift click", kClick, 4, kShift, {1, 2, 3, 4}},
           {"ctrl click", kClick, 6, kCtrl, {1, 2, 3, 4, 6}},
           {"pressed on one of several keeps them", kPress, 2, 0, {1, 2, 3, 4, 6}},
           {"released in place", kRelease, 2, 0, {2}},
           {"shift click", kClick, 4, kShift, {2, 3, 4}},
           {"a drag keeps the selection", kDrag, 3, 0, {2, 3, 4}},
           {"ctrl pressed on a selected entry", kPress, 3, kCtrl, {2, 3, 4}},
           {"ctrl released deselects it", kRelease, 3, kCtrl, {2, 4}},
           {"capture lost before the release", kLoseCapture, 2, 0, {2, 4}},
           {"focus gone", kFocusParent, 0, 0, {2, 4}, 0, false},
           {"a click below the entries clears", kClick, 30, 0, {}},
       }},
      {"keys and wheel",
       D64WithEntries(144),
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
           {"shift down", kKey, VK_DOWN, kShift, {0, 1}},
           {"ctrl down moves the caret alone", kKey, VK_DOWN, kCtrl, {0, 1}},
           {"space at the caret", kKey, VK_SPACE, 0, {0, 1, 2}},
           {"ctrl+a", kKey, 'A', kCtrl, all},
           // End goes past the rendered rows: the listing is rendered further and the caret's
           // row scrolled to the bottom. Home scrolls up only as far as the first entry's row.
           {"end", kKey, VK_END, 0, {143}, 145 * row - kHeight},
           {"home", kKey, VK_HOME, 0, {0}, row},
           {"page down", kKey, VK_NEXT, 0, {page}, (page + 2) * row - kHeight},
       }},
      // Moved to another monitor and back, the same entry stays at the top, a cut row as far
      // into it as before. (In the run at 144 DPI the move to 96 is the one it lacks.)
      {"DPI",
       D64WithEntries(144),
       {
           {"click", kClick, 1, 0, {1}},
           {"shift click", kClick, 3, kShift, {1, 2, 3}},
           {"12 rows down", kWheel, -480, 0, {1, 2, 3}, 12 * kRow144},
           {"moved to a 96-DPI monitor", kMoveToDpi, 96, 0, {1, 2, 3}, 12 * kRow96},
           {"moved back", kMoveToDpi, 144, 0, {1, 2, 3}, 12 * kRow144},
           {"at 96 again", kMoveToDpi, 96, 0, {1, 2, 3}, 12 * kRow96},
           {"the last entry at the bottom", kKey, VK_END, 0, {143}, cut},
           {"cut row, moved",
            kMoveToDpi,
            144,
            0,
            {143},
            cut / kRow96 * kRow144 + cut % kRow96 * kRow144 / kRow96},
           {"SetWindow on a 96-DPI monitor", kSetWindow, 96, 0, {143}, cut},
       },
       144},
      {"no GetDpiForWindow",
       D64WithEntries(3),
       {{"the screen's DPI", kNothing, 0, 0, {}, 0, false}},
       -1},
      // Explorer gives preview handlers its theme's background colour: it fills the pane around
      // the listing, whose own pixels stay as drawn.
      {"the host's colour",
       D64WithEntries(5),
       {
           {"given before DoPreview", kNothing, 0, 0, {}, 0, false},
           {"wider than the listing", kResize, 800, kHeight, {}, 0, false},
           {"changed after DoPreview", kColour, 0x102030, 0, {}, 0, false},
           {"a row selected", kClick, 1, 0, {1}},
       },
       0,
       RGB(0xF3, 0xE2, 0xD1)},
  };
}

// The charset switch, by button and by chord, kept where the process may write it.
std::vector<Scenario> CharsetScenarios() {
  std::vector<Scenario> out;
  for (const bool low : {false, true}) {
    out.push_back({low ? "charset at low integrity" : "charset",
                   D64WithEntries(5),
                   {
                       {"hover", kHover, 0, 0, {}, 0, false},
                       {"pressed", kButtonDown, 0, 0, {}, 0, false},
                       {"released outside: no switch", kButtonUp, 0, 0, {}, 0, false, -1},
                       {"pressed again", kButtonDown, 0, 0, {}, 0, false},
                       {"clicked", kButtonUp, 1, 0, {}, 0, false, 1},
                       {"pointer gone", kLeave, 0, 0, {}, 0, false},
                       {"chord", kChord, 0, 0, {}, 0, false, 0},
                       {"chord with another key", kChord, 'X', 0, {}, 0, false, 0},
                   },
                   0,
                   {},
                   low});
  }
  return out;
}

std::string ScenarioName(const ::testing::TestParamInfo<Scenario>& info) {
  std::string name = info.param.name;
  for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return name;
}

INSTANTIATE_TEST_SUITE_P(Pane, Scenarios, ::testing::ValuesIn(AllScenarios()), ScenarioName);
INSTANTIATE_TEST_SUITE_P(Charset, Scenarios, ::testing::ValuesIn(CharsetScenarios()), ScenarioName);

TEST_F(PreviewDll, TheNextPreviewStartsFromTheCharsetSetting) {
  SetCharsetSetting(1);
  SetCharsetSetting(0, true);  // the other key does not count
  const Bytes disk = D64WithEntries(5);
  Open(disk);
  Scene scene = SceneOf(disk);
  scene.charset = csLowerUpper;
  ExpectShows(scene, "DoPreview");
}

TEST_F(PreviewDll, KeysTheListDoesNotTakeGoOnToTheFrame) {
  Open(D64WithEntries(3));
  view::TKvPreviewFrame* frame = host().Frame();
  ASSERT_NE(frame, nullptr);
  const int before = frame->KeysOffered();
  Key(VK_DOWN);
  EXPECT_EQ(frame->KeysOffered(), before);
  Key(VK_LEFT);
  Key(VK_F5);
  Send(WM_SYSKEYDOWN, VK_MENU, 1 << 29);
  EXPECT_EQ(frame->KeysOffered(), before + 3);
  const MSG& last = frame->Offered().back();
  EXPECT_EQ(last.hwnd, host().Window());
  EXPECT_EQ(last.message, static_cast<UINT>(WM_SYSKEYDOWN));
}

TEST_F(PreviewDll, ReadsFilesStreamsGcrImagesAndContainers) {
  const Bytes disk = D64WithEntries(12);
  const Bytes g64 = ReadTestFile("tests/data/cc1541.g64");
  const Bytes g64_as_d64 = DkGcrImageToD64(g64, ".g64").ImageBytes;
  const Bytes d71 = ReadTestFile("tests/data/cc1541.d71");
  const Bytes g71 = BuildG71(d71);
  const Bytes tape = BuildT64({{"GAME", 0x82, 0x0801, PatternBytes(300, 1)}});
  const Bytes lynx = ReadTestFile("tests/data/cbmconvert.lnx");
  Bytes big = disk;
  big.resize(16 * 1024 * 1024 + 1);
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
      {"a G64 through a stream", g64, "peer.g64", true, g64_as_d64},
      // A G71 shows both sides, as its D71, known by its signature whatever its name.
      {"a G71 stream under another name", g71, "peer.img", true, d71, ".d71"},
      {"a T64", tape, "tape.t64", false, tape, ".t64"},
      {"a Lynx archive through a stream", lynx, "archive.lnx", true, lynx, ".lnx"},
      // More than 16 MiB: the read fails, Initialize still succeeds, the preview is empty.
      {"a file over 16 MiB", big, "big.d64", false, nothing},
      {"a stream over 16 MiB", big, "big.d64", true, nothing},
      {"no image", Bytes(5000, 0x33), "notes.txt", false, nothing},
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
    ASSERT_EQ(bmp.size(), 54u + 320 * 150 * 4);  // a 32-bit top-down BMP
    EXPECT_EQ(bmp[22] | bmp[23] << 8, 0x10000 - 150);
    const Bytes pixels(bmp.begin() + 54, bmp.end());
    std::string where;
    EXPECT_EQ(DifferingPixels(pixels, ExpectedFrame(scene), 320, &where), 0) << where;
  }
  EXPECT_EQ(RunViewer(L"\"" + image + L"\" --size 0x10"), 2u);
  EXPECT_EQ(RunViewer(L"\"" + WindowsPath(folder_.Path("missing.d64")) + L"\""), 1u);
  EXPECT_EQ(
      RunViewer(L"\"" + image + L"\" --dll \"" + WindowsPath(folder_.Path("none.dll")) + L"\""),
      1u);

  // The installers end with kelvane-view --associations-changed (no image needed), which tells
  // the shell that handlers came or went. Wine shows no effect of the notice, so the test's own
  // import of SHChangeNotify records the call the program's code makes.
  EXPECT_EQ(RunViewer(L"--associations-changed"), 0u);
  std::vector<ShellNotice> seen;
  {
    const ScopedImport record = RecordShellNotices(::GetModuleHandleW(nullptr), seen);
    ASSERT_TRUE(record.Ok());
    view::KvTellShellAssociationsChanged();
  }
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].event, SHCNE_ASSOCCHANGED);
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

TEST_F(PreviewDll, ManyPreviewCyclesLeakNothing) {
  const ComPtr<IShellItem> item =
      view::KvItemForPath(WindowsPath(folder_.Write("cycle.d64", D64WithEntries(40))), false);
  ASSERT_TRUE(item);
  const auto cycle = [&](int k) {
    ComPtr<IPreviewHandler> handler = NewHandler();
    ASSERT_EQ(As<IInitializeWithItem>(handler)->Initialize(item.Get(), STGM_READ), S_OK);
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
  };
  for (int k = 0; k < 10; ++k) cycle(k);
  const std::size_t heap_before = HeapBytesInUse();
  const int gdi_before = GdiObjectsInUse();
  const int windows_before = ThreadWindows();
  for (int k = 0; k < 1500; ++k) cycle(k);
  EXPECT_EQ(ThreadWindows(), windows_before);
  EXPECT_EQ(GdiObjectsInUse(), gdi_before);
  // One image, listing or row model left behind per cycle would be megabytes by now.
  EXPECT_LT(HeapBytesInUse(), heap_before + 64 * 1024);
}

}  // namespace
}  // namespace kelvane::testing
