// What the preview handler does when one of its replaceable operations fails or is missing, what
// its drag offers, and the transfer-folder sweep: not visible through the DLL under Wine, so these
// tests build the handler into the test and replace the entry points directly.

#include <gtest/gtest.h>
#include <shlobj.h>
#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <stdexcept>

#include "shell/drag_files.h"
#include "shell/preview_paint.h"
#include "shell/win32/data_object.h"
#include "shell/win32/entry_points.h"
#include "shell/win32/preview_handler.h"
#include "support/disk_builder.h"
#include "support/temp_folder.h"
#include "view/preview_host.h"
#include "win32/dll_fixture.h"
#include "win32/drag_support.h"

namespace kelvane::testing {
namespace {

using win::KvEntryPoints;
using win::TKvPreviewHandler;

int g_failures_left = 0;

HWND WINAPI FlakyCreate(DWORD ex_style, LPCWSTR class_name, LPCWSTR title, DWORD style, int x,
                        int y, int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                        LPVOID parameter) {
  if (g_failures_left > 0) {
    --g_failures_left;
    return nullptr;
  }
  return ::CreateWindowExW(ex_style, class_name, title, style, x, y, width, height, parent, menu,
                           instance, parameter);
}

bool ThrowingRender(const TRenderRows&, int, int, int, TDkRenderImage&, TDkCharset) {
  throw std::runtime_error("render failed");
}

int g_written = -1;
void RecordCharset(TDkCharset charset, bool) {
  g_written = charset;
}

SHORT WINAPI BothModifiersDown(int key) {
  return key == VK_SHIFT || key == VK_CONTROL ? static_cast<SHORT>(0x8000) : 0;
}

class PreviewCore : public DllTest {
 protected:
  void SetUp() override {
    DllTest::SetUp();
    win::SetModuleInstance(::GetModuleHandleW(nullptr));
    win::KvResetEntryPoints();
    g_failures_left = 0;
    g_written = -1;
    path_ = WindowsPath(folder_.Write("core.d64", D64WithEntries(6)));
    handler_ = view::Adopt(new TKvPreviewHandler());
    ASSERT_EQ(handler_->Initialize(view::KvItemForPath(path_, false).Get(), STGM_READ), S_OK);
    ASSERT_EQ(handler_->SetWindow(parent_.get(), &rect_), S_OK);
  }
  void TearDown() override {
    handler_.Reset();
    win::KvResetEntryPoints();
    DllTest::TearDown();
  }
  HWND Window() {
    HWND window = nullptr;
    handler_->GetWindow(&window);
    return window;
  }

  RECT rect_{0, 0, kWidth, kHeight};
  std::wstring path_;
  view::ComPtr<TKvPreviewHandler> handler_;
};

TEST_F(PreviewCore, AFailedWindowCreationIsTriedOnceMore) {
  KvEntryPoints().MakeWindow = FlakyCreate;
  g_failures_left = 1;
  EXPECT_EQ(handler_->DoPreview(), S_OK);
  EXPECT_TRUE(::IsWindow(Window()));
  g_failures_left = 1000;
  EXPECT_EQ(handler_->DoPreview(), E_FAIL);
  EXPECT_EQ(Window(), nullptr);
}

TEST_F(PreviewCore, ARenderThatRaisesLeavesAnEmptyPreviewWithoutTheButton) {
  KvEntryPoints().Render = ThrowingRender;
  ASSERT_EQ(handler_->DoPreview(), S_OK);
  EXPECT_EQ(
      DifferingPixels(view::KvCaptureWindow(Window()).Pixels, ExpectedFrame(SceneOf({})), kWidth),
      0);
  // Without a listing there is no charset switch, by button or by chord.
  KvEntryPoints().KeyState = BothModifiersDown;
  KvEntryPoints().WriteCharset = RecordCharset;
  ::SendMessageW(Window(), WM_KEYDOWN, VK_CONTROL, 1);
  ::SendMessageW(Window(), WM_KEYUP, VK_CONTROL, 1 | 0xC0000000);
  const TKvRect button = KvButtonRect(kWidth, row_height_, dpi_);
  ::SendMessageW(Window(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(button.Left + 2, 2));
  ::SendMessageW(Window(), WM_LBUTTONUP, 0, MAKELPARAM(button.Left + 2, 2));
  EXPECT_EQ(g_written, -1);
}

// A drag loop that, instead of waiting for the pointer, reads what it was given as a shell folder
// would, asks the data object a few questions, and tries a drop onto the dragging window itself.
struct LoopProbe {
  HWND window = nullptr;
  std::wstring dropped_path;
  int calls = 0;
  DWORD allowed = 0;
  DWORD self_drop_effect = 99;
  bool answers = false;
  bool raise = false;
  ReceivedDrop record;
};
LoopProbe g_probe;

FORMATETC Format(CLIPFORMAT format, LONG lindex, DWORD tymed) {
  return FORMATETC{format, nullptr, DVASPECT_CONTENT, lindex, tymed};
}

HRESULT ProbeLoop(IDataObject* data, IDropSource* source, DWORD allowed, DWORD* effect) {
  ++g_probe.calls;
  g_probe.allowed = allowed;
  g_probe.record = ReceivedDrop{};
  ReadDragData(data, g_probe.record);
  auto* target = static_cast<IDropTarget*>(::GetPropW(g_probe.window, L"OleDropTargetInterface"));
  const auto files = view::Adopt<IDataObject>(new FileListSource({g_probe.dropped_path}));
  DWORD self = DROPEFFECT_COPY;
  if (target != nullptr) target->DragEnter(files.Get(), MK_LBUTTON, POINTL{4, 4}, &self);
  if (target != nullptr) target->DragLeave();
  g_probe.self_drop_effect = self;
  FORMATETC group = Format(win::KvFileGroupDescriptorFormat(), -1, TYMED_ISTREAM);
  FORMATETC folder = Format(win::KvFileContentsFormat(), 0, TYMED_ISTREAM);
  FORMATETC past = Format(win::KvFileContentsFormat(), 2, TYMED_HGLOBAL);
  FORMATETC text = Format(CF_TEXT, -1, TYMED_HGLOBAL);
  g_probe.answers =
      data->QueryGetData(&group) == DV_E_TYMED && data->QueryGetData(&folder) == DV_E_LINDEX &&
      data->QueryGetData(&past) == DV_E_LINDEX && data->QueryGetData(&text) == DV_E_FORMATETC &&
      source->QueryContinueDrag(FALSE, MK_LBUTTON) == S_OK &&
      source->QueryContinueDrag(FALSE, 0) == DRAGDROP_S_DROP &&
      source->QueryContinueDrag(TRUE, MK_LBUTTON) == DRAGDROP_S_CANCEL;
  if (g_probe.raise) throw std::runtime_error("the drag loop failed");
  *effect = DROPEFFECT_COPY;
  return DRAGDROP_S_DROP;
}

TEST_F(PreviewCore, ADragOffersTheSelectionAndItsOwnWindowRefusesDropsMeanwhile) {
  const std::wstring image = WindowsPath(folder_.Write("drag.d81", D81PartitionImage()));
  const auto handler = view::Adopt(new TKvPreviewHandler());
  ASSERT_EQ(handler->Initialize(view::KvItemForPath(image, false).Get(), STGM_READ), S_OK);
  ASSERT_EQ(handler->SetWindow(parent_.get(), &rect_), S_OK);
  ASSERT_EQ(handler->DoPreview(), S_OK);
  HWND window = nullptr;
  handler->GetWindow(&window);
  g_probe = LoopProbe{};
  g_probe.window = window;
  g_probe.dropped_path = WindowsPath(folder_.Write("new.prg", PatternBytes(40, 8)));
  KvEntryPoints().DragLoop = ProbeLoop;

  // A press on PART and a move past the drag threshold start the drag.
  const LPARAM at = MAKELPARAM(30, 2 * row_height_ + 2);
  ::SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, at);
  ::SendMessageW(window, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(31, 2 * row_height_ + 3));
  EXPECT_EQ(g_probe.calls, 0);  // within the threshold
  ::SendMessageW(window, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(40, 2 * row_height_ + 2));
  ASSERT_EQ(g_probe.calls, 1);
  EXPECT_EQ(g_probe.allowed, static_cast<DWORD>(DROPEFFECT_COPY));
  EXPECT_TRUE(g_probe.answers);
  ASSERT_EQ(g_probe.record.descriptors.size(), 2u);
  EXPECT_EQ(g_probe.record.descriptors[0].name, L"PART");
  EXPECT_TRUE(g_probe.record.descriptors[0].folder);
  EXPECT_EQ(g_probe.record.descriptors[1].name, L"PART\\INSIDE.prg");
  EXPECT_EQ(g_probe.record.contents[1], PatternBytes(600, 7));
  // For programs that take only a file list, the same as real files under a transfer folder.
  ASSERT_EQ(g_probe.record.hdrop.size(), 1u);
  const std::wstring transfer =
      g_probe.record.hdrop[0].substr(0, g_probe.record.hdrop[0].size() - 4);
  EXPECT_EQ(transfer.substr(0, win::KvTemporaryRoot().size()), win::KvTemporaryRoot());
  EXPECT_EQ(ReadTestFile(std::filesystem::path(transfer + L"PART\\INSIDE.prg").string()),
            PatternBytes(600, 7));
  EXPECT_TRUE(win::KvDeleteTransferFolder(win::KvTemporaryRoot(), transfer));
  // Its own window refused the drop, without a banner: the listing with PART selected.
  EXPECT_EQ(g_probe.self_drop_effect, static_cast<DWORD>(DROPEFFECT_NONE));
  Scene scene = SceneOf(D81PartitionImage());
  scene.name = ".d81";
  scene.selected = {1};
  scene.focused = ::GetFocus() == window;
  EXPECT_EQ(DifferingPixels(view::KvCaptureWindow(window).Pixels, ExpectedFrame(scene), kWidth), 0);

  // A loop that raises still ends the drag: the extra reference given back, drops taken again.
  g_probe.raise = true;
  EXPECT_THROW(handler->StartDrag(), std::runtime_error);
  EXPECT_EQ(handler->AddRef(), 2u);
  handler->Release();
  auto* target = static_cast<IDropTarget*>(::GetPropW(window, L"OleDropTargetInterface"));
  ASSERT_NE(target, nullptr);
  const auto files = view::Adopt<IDataObject>(new FileListSource({g_probe.dropped_path}));
  DWORD effect = DROPEFFECT_COPY;
  target->DragEnter(files.Get(), MK_LBUTTON, POINTL{4, 4}, &effect);
  target->DragLeave();
  EXPECT_EQ(effect, static_cast<DWORD>(DROPEFFECT_COPY));
  // Through the window the exception is absorbed.
  ::SendMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, at);
  ::SendMessageW(window, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(40, 2 * row_height_ + 2));
  EXPECT_EQ(g_probe.calls, 3);
}

TEST_F(PreviewCore, TheSettingIsReadAndWrittenThroughTheTable) {
  // No reader: the upper-case/graphics set. No writer: the switch still happens.
  KvEntryPoints().ReadCharset = nullptr;
  KvEntryPoints().WriteCharset = nullptr;
  ASSERT_EQ(handler_->DoPreview(), S_OK);
  handler_->ToggleCharset();
  EXPECT_EQ(CharsetSettingValue(), -1);
  Scene scene = SceneOf(D64WithEntries(6));
  scene.charset = csLowerUpper;
  EXPECT_EQ(DifferingPixels(view::KvCaptureWindow(Window()).Pixels, ExpectedFrame(scene), kWidth),
            0);

  // The key state comes from the table too: a chord with both modifiers "down".
  KvEntryPoints().WriteCharset = RecordCharset;
  KvEntryPoints().KeyState = BothModifiersDown;
  ::SendMessageW(Window(), WM_KEYDOWN, VK_SHIFT, 1);
  KvEntryPoints().KeyState = [](int) -> SHORT { return 0; };
  ::SendMessageW(Window(), WM_KEYUP, VK_SHIFT, 1 | 0xC0000000);
  EXPECT_EQ(g_written, csUpperGraphics);
}

using win::TKvDataObject;

TKvDragFileArray SampleFiles() {
  return {{u"B.seq", PatternBytes(300, 2), false}};
}

// Makes `folder` look created `minutes` ago. Wine reports a folder's creation time from its
// modification time (Linux keeps no settable birth time), so both are set.
void AgeFolder(const std::wstring& folder, int minutes) {
  const HANDLE handle = ::CreateFileW(folder.c_str(), FILE_WRITE_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  FILETIME now{};
  ::GetSystemTimeAsFileTime(&now);
  ULARGE_INTEGER time{{now.dwLowDateTime, now.dwHighDateTime}};
  time.QuadPart -= static_cast<ULONGLONG>(minutes) * 60 * 10000000;
  const FILETIME then{time.LowPart, time.HighPart};
  ASSERT_TRUE(::SetFileTime(handle, &then, nullptr, &then));
  ::CloseHandle(handle);
}

TEST(TransferFolders, OnlyStaleGuidFoldersNotInUseAreSwept) {
  const std::wstring root = win::KvTemporaryRoot();
  ::CreateDirectoryW(root.c_str(), nullptr);
  const auto make = [&](const std::wstring& name, int age) {
    const std::wstring folder = root + name + L"\\";
    std::filesystem::create_directories(std::filesystem::path(folder + L"inner"));
    const std::wstring file = folder + L"inner\\locked.prg";
    std::FILE* out = _wfopen(file.c_str(), L"wb");
    std::fputs("x", out);
    std::fclose(out);
    ::SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY);
    AgeFolder(folder, age);
    return folder;
  };
  const std::wstring stale = make(L"11111111-2222-3333-4444-555555555555", 11);
  // A link inside a stale folder to a folder elsewhere: the link goes, what it points to stays.
  // (Wine makes such links, but reports them without the reparse-point attribute; a link at the
  // root level cannot be aged under Wine, so links named like transfer folders are checked
  // through the guarded deletion below.)
  const std::wstring outside = root + L"outside-the-transfer-folders\\";
  std::filesystem::create_directories(std::filesystem::path(outside));
  std::FILE* keep = _wfopen((outside + L"keep.prg").c_str(), L"wb");
  std::fputs("k", keep);
  std::fclose(keep);
  const bool linked = ::CreateSymbolicLinkW((stale + L"link").c_str(), outside.c_str(),
                                            SYMBOLIC_LINK_FLAG_DIRECTORY | 2) != 0;
  AgeFolder(stale, 11);
  const std::wstring linked_root = root + L"11111111-2222-3333-4444-777777777777";
  const bool root_link = ::CreateSymbolicLinkW(linked_root.c_str(), outside.c_str(),
                                               SYMBOLIC_LINK_FLAG_DIRECTORY | 2) != 0;
  const std::wstring recent = make(L"11111111-2222-3333-4444-666666666666", 9);
  const std::wstring other = make(L"not-a-transfer-folder-name-of-36-ch", 60);
  // A live folder: one whose data object still exists, aged as if it had been in use for long.
  const auto live_object = view::Adopt(new TKvDataObject(SampleFiles(), win::KvTemporaryRoot()));
  FORMATETC hdrop = Format(CF_HDROP, -1, TYMED_HGLOBAL);
  STGMEDIUM medium{};
  ASSERT_EQ(live_object->GetData(&hdrop, &medium), S_OK);
  ::ReleaseStgMedium(&medium);
  const std::wstring live = live_object->TransferFolder();
  AgeFolder(live, 30);

  const auto sweeper =
      view::Adopt(new TKvDataObject(SampleFiles(), win::KvTemporaryRoot()));  // sweeps on creation
  namespace fs = std::filesystem;
  EXPECT_FALSE(fs::exists(fs::path(stale)));
  EXPECT_TRUE(fs::exists(fs::path(recent + L"inner\\locked.prg")));
  EXPECT_TRUE(fs::exists(fs::path(other + L"inner\\locked.prg")));
  EXPECT_TRUE(fs::exists(fs::path(live + L"B.seq")));
  EXPECT_TRUE(linked);
  EXPECT_TRUE(fs::exists(fs::path(outside + L"keep.prg")));
  if (root_link) {
    EXPECT_FALSE(win::KvDeleteTransferFolder(root, linked_root + L"\\"));
    EXPECT_TRUE(fs::exists(fs::path(outside + L"keep.prg")));
    ::RemoveDirectoryW(linked_root.c_str());
  }

  // The guarded deletion refuses anything that is not root + GUID name + "\".
  EXPECT_FALSE(win::KvDeleteTransferFolder(root, other));
  EXPECT_FALSE(win::KvDeleteTransferFolder(root, recent.substr(0, recent.size() - 1)));
  EXPECT_FALSE(win::KvDeleteTransferFolder(root + L"inner\\", recent));
  EXPECT_TRUE(fs::exists(fs::path(recent)));
  for (const std::wstring& folder : {recent, other, outside}) {
    ::SetFileAttributesW((folder + L"inner\\locked.prg").c_str(), FILE_ATTRIBUTE_NORMAL);
    ::SetFileAttributesW((folder + L"keep.prg").c_str(), FILE_ATTRIBUTE_NORMAL);
    fs::remove_all(fs::path(folder));
  }
}

}  // namespace
}  // namespace kelvane::testing
