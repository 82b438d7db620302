// Files dropped onto the preview and entries dragged out of it, through the real DLL under Wine:
// the refusals by driving the registered drop target directly, and real drags with a real
// pointer (xdotool on the X server) both ways.

#include <gtest/gtest.h>
#include <shlobj.h>
#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

#include "host/host_files.h"
#include "registry/registry.h"
#include "shell/drag_files.h"
#include "shell/drop_write.h"
#include "shell/preview_paint.h"
#include "shell/row_model.h"
#include "shell/win32/data_object.h"
#include "shell/win32/drop_target.h"
#include "support/disk_builder.h"
#include "support/temp_folder.h"
#include "win32/dll_fixture.h"
#include "win32/drag_support.h"
#include "win32/import_patch.h"
#include "write/writer_select.h"

namespace kelvane::testing {
namespace {

using view::ComPtr;

IDropTarget* TargetOf(HWND window) {
  return static_cast<IDropTarget*>(::GetPropW(window, L"OleDropTargetInterface"));
}

// What a drop of `data` does on `window`'s target: the effects DragEnter and Drop answer.
struct DropOutcome {
  DWORD enter = 0;
  DWORD drop = 0;
};

DropOutcome DropOnto(IDropTarget* target, IDataObject* data, DWORD offered) {
  DropOutcome outcome;
  POINTL point{20, 20};
  outcome.enter = offered;
  EXPECT_EQ(target->DragEnter(data, MK_LBUTTON, point, &outcome.enter), S_OK);
  DWORD over = offered;
  EXPECT_EQ(target->DragOver(MK_LBUTTON, point, &over), S_OK);
  EXPECT_EQ(over, outcome.enter);
  outcome.drop = offered;
  EXPECT_EQ(target->Drop(data, 0, point, &outcome.drop), S_OK);
  return outcome;
}

ComPtr<IDataObject> FilesOf(std::vector<std::wstring> paths, bool offer_files = true) {
  return view::Adopt<IDataObject>(new FileListSource(std::move(paths), offer_files));
}

// Entries `first`, `first` + 1, ... of the D64 `image` hold `contents`, in order.
void ExpectEntriesHold(const Bytes& image, int first, const std::vector<Bytes>& contents) {
  std::vector<int> indices;
  for (std::size_t k = 0; k < contents.size(); ++k) indices.push_back(first + static_cast<int>(k));
  TKvDragFileArray files;
  ASSERT_TRUE(BuildDragFiles(image, ".d64", indices, files));
  ASSERT_EQ(files.size(), contents.size());
  for (std::size_t k = 0; k < contents.size(); ++k) EXPECT_EQ(files[k].Bytes, contents[k]) << k;
}

// Nothing a drop writes beside the image is left in `folder`.
void ExpectNoSideFiles(const std::filesystem::path& folder) {
  for (const auto& file : std::filesystem::directory_iterator(folder)) {
    const std::string name = file.path().filename().string();
    EXPECT_FALSE(name.ends_with(".kelvane.tmp") || name.ends_with(".kelvane.bak")) << name;
  }
}

// `window` says `text` in its banner: its window text (what a screen reader reads) is the text,
// and the band at its bottom no longer shows the listing; with `above`, the window shows `scene`
// above the band.
void ExpectBannerOver(HWND window, const std::wstring& text, const Scene& scene, const char* what,
                      bool above = false) {
  wchar_t said[512] = {};
  ::GetWindowTextW(window, said, 512);
  EXPECT_EQ(std::wstring(said), text) << what;
  const view::TKvWindowPixels shot = view::KvCaptureWindow(window);
  const Bytes expected = ExpectedFrame(scene);
  const auto split = static_cast<std::ptrdiff_t>(scene.width) *
                     (scene.height - KvBannerHeight(true, scene.dpi)) * 4;
  EXPECT_GT(DifferingPixels(Bytes(shot.Pixels.begin() + split, shot.Pixels.end()),
                            Bytes(expected.begin() + split, expected.end()), scene.width),
            0)
      << what << ": no banner";
  if (!above) return;
  std::string where;
  EXPECT_EQ(DifferingPixels(Bytes(shot.Pixels.begin(), shot.Pixels.begin() + split),
                            Bytes(expected.begin(), expected.begin() + split), scene.width, &where),
            0)
      << what << ": " << where;
}

class DropDll : public DllTest {
 protected:
  void TearDown() override {
    DllTest::TearDown();
    ExpectNoSideFiles(folder_.path());  // whatever happened
  }
  std::wstring HostFile(const std::string& name, const Bytes& bytes) {
    return WindowsPath(folder_.Write(name, bytes));
  }
};

TEST_F(DropDll, RefusedDropsWriteNothing) {
  const Bytes disk = D64WithEntries(2);
  const std::wstring file = HostFile("new.prg", PatternBytes(100, 3));
  // The integrity level the DLL's token read is given: Explorer's preview host runs handlers at
  // low integrity unless the class key asks otherwise; Wine runs everything at high.
  constexpr DWORD kHigh = SECURITY_MANDATORY_HIGH_RID;
  struct Case {
    const char* what;
    std::string name;
    Bytes image;
    bool stream;
    std::wstring path;  // what is dropped
    bool offer_files;
    DWORD offered;
    std::wstring banner;  // "" for none
    DWORD level;
  };
  const std::vector<Case> cases = {
      {"plain text", "a.d64", disk, false, file, false, DROPEFFECT_COPY, L"", kHigh},
      {"link only", "c.d64", disk, false, file, true, DROPEFFECT_LINK, L"", kHigh},
      {"a G64", "d.g64", ReadTestFile("tests/data/cc1541.g64"), false, file, true, DROPEFFECT_COPY,
       L"This image format is read-only.", kHigh},
      {"inside an archive", "e.d64", disk, true, file, true, DROPEFFECT_COPY,
       L"This image has no file of its own (it is inside an archive); nothing can be dropped on "
       L"it.",
       kHigh},
      {"unreadable, inside an archive", "f.d64", Bytes(3000, 0x55), true, file, true,
       DROPEFFECT_COPY, L"This image could not be read; nothing can be dropped on it.", kHigh},
      {"over 16 MiB", "g.d64", Bytes(16 * 1024 * 1024 + 1, 0), false, file, true, DROPEFFECT_COPY,
       view::Widen(DkWriteBlockReason("g.d64", 0)), kHigh},
      // NTFS allows a lone surrogate in a name; UTF-8 cannot carry it.
      {"only a name that is no Unicode text", "h.d64", disk, false,
       WindowsPath(folder_.Path("x")) + L"\xD800.prg", true, DROPEFFECT_COPY,
       L"x\xD800.prg: The file could not be read.", kHigh},
      {"at low integrity", "i.d64", disk, false, file, true, DROPEFFECT_COPY,
       L"Files cannot be added while the preview runs with low integrity; installing Kelvane "
       L"again fixes it.",
       SECURITY_MANDATORY_LOW_RID},
  };
  for (const Case& c : cases) {
    const ScopedImport integrity = IntegrityAs(SharedHost().Module(), c.level);
    ASSERT_TRUE(integrity.Ok());
    const HWND window = Open(c.image, c.name, c.stream);
    ASSERT_NE(window, nullptr) << c.what;
    IDropTarget* target = TargetOf(window);
    ASSERT_NE(target, nullptr) << c.what;
    const auto data = FilesOf({c.path}, c.offer_files);
    const DropOutcome outcome = DropOnto(target, data.Get(), c.offered);
    EXPECT_EQ(outcome.drop, static_cast<DWORD>(DROPEFFECT_NONE)) << c.what;
    if (c.offer_files && c.banner.find(L"could not be read.") == std::wstring::npos) {
      EXPECT_EQ(outcome.enter, static_cast<DWORD>(DROPEFFECT_NONE)) << c.what;
    }
    EXPECT_EQ(ReadTestFile(image_path_), c.image) << c.what;
    if (!c.banner.empty()) ExpectBannerOver(window, c.banner, SceneOf(c.image), c.what);
  }

  // A drop that arrives after the preview was unloaded does nothing.
  const HWND window = Open(disk, "late.d64");
  ComPtr<IDropTarget> target(TargetOf(window));
  ASSERT_TRUE(target);
  const auto data = FilesOf({file});
  POINTL point{5, 5};
  DWORD effect = DROPEFFECT_COPY;
  ASSERT_EQ(target->DragEnter(data.Get(), MK_LBUTTON, point, &effect), S_OK);
  ASSERT_EQ(effect, static_cast<DWORD>(DROPEFFECT_COPY));
  SharedHost().Handler()->Unload();
  effect = DROPEFFECT_COPY;
  EXPECT_EQ(target->Drop(data.Get(), 0, point, &effect), S_OK);
  EXPECT_EQ(effect, static_cast<DWORD>(DROPEFFECT_NONE));
  EXPECT_EQ(ReadTestFile(image_path_), disk);
}

// ---- Real drags: windows on the X server and a real pointer.

LRESULT CALLBACK PlainProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  return ::DefWindowProcW(window, message, wparam, lparam);
}

// The test's drag source: a press on it drags `g_source_paths` as a shell file list.
std::vector<std::wstring> g_source_paths;
DWORD g_source_effect = 0;
HRESULT g_source_result = E_FAIL;

LRESULT CALLBACK SourceProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_LBUTTONDOWN) {
    const auto data = view::Adopt<IDataObject>(new FileListSource(g_source_paths));
    const auto source = view::Adopt<IDropSource>(new ButtonDropSource());
    g_source_result = ::DoDragDrop(data.Get(), source.Get(), DROPEFFECT_COPY, &g_source_effect);
    return 0;
  }
  return ::DefWindowProcW(window, message, wparam, lparam);
}

HWND ShownWindow(const wchar_t* class_name, WNDPROC procedure, int x, int y, int w, int h) {
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof(window_class);
  window_class.lpfnWndProc = procedure;
  window_class.hInstance = ::GetModuleHandleW(nullptr);
  window_class.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  window_class.lpszClassName = class_name;
  ::RegisterClassExW(&window_class);
  const HWND window = ::CreateWindowExW(0, class_name, L"", WS_POPUP | WS_VISIBLE, x, y, w, h,
                                        nullptr, nullptr, window_class.hInstance, nullptr);
  ::UpdateWindow(window);
  return window;
}

// A press at (x0, y0), a move to (x1, y1) in steps of about 50 pixels 0.2 s apart, a release.
std::string DragPath(int x0, int y0, int x1, int y1) {
  std::string script = "mousemove " + std::to_string(x0) + " " + std::to_string(y0) +
                       " sleep 0.3 mousedown 1 sleep 0.3";
  const int steps = std::max(6, (std::abs(x1 - x0) + std::abs(y1 - y0)) / 50);
  for (int k = 1; k <= steps; ++k) {
    script += " mousemove " + std::to_string(x0 + (x1 - x0) * k / steps) + " " +
              std::to_string(y0 + (y1 - y0) * k / steps) + " sleep 0.2";
  }
  return script + " sleep 0.3 mouseup 1 sleep 0.3";
}

class RealPointer : public DllTest {
 protected:
  static constexpr int kPaneWidth = 400;
  static constexpr int kPaneHeight = 240;

  static void SetUpTestSuite() {
    pane_ = ShownWindow(L"KelvaneTestPane", PlainProc, 0, 0, kPaneWidth, kPaneHeight);
    drop_ = ShownWindow(L"KelvaneTestDrop", PlainProc, 500, 0, 300, 240);
    source_ = ShownWindow(L"KelvaneTestSource", SourceProc, 500, 400, 200, 100);
  }
  static void TearDownTestSuite() {
    for (HWND window : {pane_, drop_, source_}) ::DestroyWindow(window);
  }
  HWND Preview(const Bytes& bytes, const std::string& name) {
    image_path_ = folder_.Write(name, bytes);
    EXPECT_TRUE(SharedHost().Open(WindowsPath(image_path_), false, pane_,
                                  RECT{0, 0, kPaneWidth, kPaneHeight}));
    return SharedHost().Window();
  }

  static HWND pane_;
  static HWND drop_;
  static HWND source_;
};

HWND RealPointer::pane_ = nullptr;
HWND RealPointer::drop_ = nullptr;
HWND RealPointer::source_ = nullptr;

TEST_F(RealPointer, EntriesDraggedOutArriveAsFilesAndFolders) {
  const int row_height = KvRowHeight(KvScaleFromDpi(ScreenDpi()));
  // At medium integrity the transfer folders go under the temporary folder; at low integrity,
  // where that may not be written, under LocalLow (Wine runs at high integrity: the DLL's token
  // read is given the level).
  wchar_t* local_low = nullptr;
  ASSERT_EQ(::SHGetKnownFolderPath(FOLDERID_LocalAppDataLow, 0, nullptr, &local_low), S_OK);
  const std::wstring low_root = std::wstring(local_low) + L"\\Kelvane\\";
  ::CoTaskMemFree(local_low);
  struct Case {
    Bytes image;
    std::string name;
    std::string detection;
    DWORD level;
    std::wstring root;
  };
  for (const Case& c : std::vector<Case>{
           {D81PartitionImage(), "part.d81", ".d81", SECURITY_MANDATORY_MEDIUM_RID,
            win::KvTemporaryRoot()},
           {DnpTreeImage(), "tree.dnp", ".dnp", SECURITY_MANDATORY_LOW_RID, low_root}}) {
    const ScopedImport integrity = IntegrityAs(SharedHost().Module(), c.level);
    ASSERT_TRUE(integrity.Ok());
    const HWND window = Preview(c.image, c.name);
    ::SetFocus(window);
    BYTE keys[256] = {};
    keys[VK_CONTROL] = 0x80;
    ::SetKeyboardState(keys);
    ::SendMessageW(window, WM_KEYDOWN, 'A', 1);
    keys[VK_CONTROL] = 0;
    ::SetKeyboardState(keys);
    TKvRowModel model;
    ASSERT_TRUE(BuildRowModel(c.image, c.detection, model));
    std::vector<int> all(static_cast<std::size_t>(RowCount(model)));
    for (std::size_t k = 0; k < all.size(); ++k) all[k] = static_cast<int>(k);
    TKvDragFileArray expected;
    ASSERT_TRUE(BuildDragFiles(c.image, c.detection, all, expected));

    ReceivedDrop record;
    const auto target = view::Adopt<IDropTarget>(new RecordingTarget(record));
    ASSERT_EQ(::RegisterDragDrop(drop_, target.Get()), S_OK);
    ASSERT_TRUE(RunPointer(DragPath(40, row_height + row_height / 2, 650, 120)));
    ::RevokeDragDrop(drop_);

    ASSERT_TRUE(record.dropped) << c.name << ": no drop arrived";
    EXPECT_EQ(record.effect_offered, static_cast<DWORD>(DROPEFFECT_COPY));
    ASSERT_EQ(record.descriptors.size(), expected.size()) << c.name;
    std::vector<std::wstring> top_level;
    for (std::size_t i = 0; i < expected.size(); ++i) {
      const std::wstring path(expected[i].Path.begin(), expected[i].Path.end());
      EXPECT_EQ(record.descriptors[i].name, path);
      EXPECT_EQ(record.contents[i], expected[i].Bytes) << c.name << " " << i;
      if (path.find(L'\\') == std::wstring::npos) top_level.push_back(path);
    }
    // The file list: the top-level items of a transfer folder under the root's Kelvane\GUID\.
    ASSERT_EQ(record.hdrop.size(), top_level.size());
    const std::wstring folder = record.hdrop[0].substr(0, c.root.size() + 37);
    EXPECT_EQ(folder.substr(0, c.root.size()), c.root);
    for (std::size_t i = 0; i < top_level.size(); ++i) {
      EXPECT_EQ(record.hdrop[i], folder + top_level[i]);
    }
    win::KvDeleteTransferFolder(c.root, folder);
  }
}

// Host files dragged onto the preview with a real pointer are written as the library writes
// them, the new entries selected, what was not written in the banner, and Explorer told once.
TEST_F(RealPointer, HostFilesDroppedOnThePreviewAreWrittenAndSelected) {
  // At medium integrity, the level the installed class asks for; Wine delivers no shell notice
  // to a window of this process, so the DLL's own call is recorded (import_patch.h).
  const ScopedImport medium = IntegrityAs(SharedHost().Module(), SECURITY_MANDATORY_MEDIUM_RID);
  std::vector<ShellNotice> notices;
  const ScopedImport recorder = RecordShellNotices(SharedHost().Module(), notices);
  ASSERT_TRUE(medium.Ok() && recorder.Ok());
  const Bytes disk = D64WithEntries(2);
  const HWND window = Preview(disk, "target.d64");
  // Names in Greek and Cyrillic, which Wine's ANSI code page (1252) cannot hold, and a folder.
  const Bytes one = PatternBytes(1000, 31);
  const Bytes two = PatternBytes(3, 32);
  std::filesystem::create_directories(folder_.path() / "a folder");
  g_source_paths = {WindowsPath(folder_.Write("\xCE\xA9\xCE\xBC\xCE\xAD\xCE\xB3\xCE\xB1.prg", one)),
                    WindowsPath(folder_.Path("a folder")),
                    WindowsPath(folder_.Write("\xD0\x9F\xD1\x80\xD0\xB8.usr", two))};
  // What the same drop does to a copy of the image through the library: the banner and bytes.
  const std::string copy = folder_.Write("copy.d64", disk);
  std::vector<std::string> paths;
  for (const std::wstring& path : g_source_paths) {
    std::string narrow;
    ASSERT_TRUE(win::KvToWriterPath(path, narrow));
    paths.push_back(narrow);
  }
  const TKvDropResult reference = KvWriteDroppedFiles(copy, paths, *MakeSystemHostFiles());
  ASSERT_EQ(reference.WrittenCount, 2);

  ASSERT_TRUE(RunPointer(DragPath(560, 440, 100, 100)));
  EXPECT_EQ(g_source_result, DRAGDROP_S_DROP);
  EXPECT_EQ(g_source_effect, static_cast<DWORD>(DROPEFFECT_COPY));
  const Bytes now = ReadTestFile(image_path_);
  ExpectEntriesHold(now, 2, {one, two});
  EXPECT_EQ(now, ReadTestFile(copy));
  const Scene scene{.data = now,
                    .width = kPaneWidth,
                    .height = kPaneHeight,
                    .dpi = ScreenDpi(),
                    .selected = {2, 3},
                    .focused = ::GetFocus() == window};
  ExpectBannerOver(window, win::KvFromUtf8(KvDropSummary(reference)), scene, "after the drop",
                   true);
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0].event, SHCNE_UPDATEITEM);
  EXPECT_EQ(notices[0].flags, static_cast<UINT>(SHCNF_PATHW | SHCNF_FLUSHNOWAIT));
  EXPECT_EQ(notices[0].path, WindowsPath(image_path_));

  // A drop that writes nothing (the same files again) tells Explorer nothing.
  EXPECT_EQ(DropOnto(TargetOf(window), FilesOf(g_source_paths).Get(), DROPEFFECT_COPY).drop,
            static_cast<DWORD>(DROPEFFECT_NONE));
  EXPECT_EQ(ReadTestFile(image_path_), now);
  EXPECT_EQ(notices.size(), 1u);
  ExpectNoSideFiles(folder_.path());
}

}  // namespace
}  // namespace kelvane::testing
