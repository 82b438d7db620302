// Files dropped onto the preview and entries dragged out of it, through the real DLL under Wine:
// the refusals by driving the registered drop target directly, and real drags with a real
// pointer (xdotool on the X server) both ways.

#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cbm/registry.h"
#include "shell/drag_files.h"
#include "shell/preview_paint.h"
#include "shell/row_model.h"
#include "support/disk_builder.h"
#include "support/temp_folder.h"
#include "win32/drag_support.h"
#include "win32/preview_expect.h"
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

class DropDll : public ::testing::Test {
 protected:
  static constexpr int kWidth = 500;
  static constexpr int kHeight = 240;

  void SetUp() override {
    ASSERT_TRUE(SharedHost().Ok());
    dpi_ = ScreenDpi();
  }
  void TearDown() override {
    SharedHost().Close();
    // Whatever happened, nothing is left beside the images.
    for (const auto& file : std::filesystem::directory_iterator(folder_.path())) {
      const std::string name = file.path().filename().string();
      EXPECT_FALSE(name.ends_with(".kelvane.tmp") || name.ends_with(".kelvane.bak")) << name;
    }
  }

  // Previews `bytes` as the file `name` (or through a stream item).
  HWND Open(const Bytes& bytes, const std::string& name, bool stream = false) {
    image_path_ = folder_.Write(name, bytes);
    EXPECT_TRUE(SharedHost().Open(WindowsPath(image_path_), stream, parent_.get(),
                                  RECT{0, 0, kWidth, kHeight}));
    return SharedHost().Window();
  }
  std::wstring HostFile(const std::string& name, const Bytes& bytes) {
    return WindowsPath(folder_.Write(name, bytes));
  }

  // The banner band of the window, and what it must be for `text` ("" for no banner: then the
  // band is whatever the listing shows there, and only the absence of text is checked by the
  // caller's frame comparison).
  void ExpectBanner(HWND window, const std::wstring& text, const char* what) {
    const view::TKvWindowPixels shot = view::KvCaptureWindow(window);
    const int band = std::min(kHeight, KvScaled(22, dpi_));
    const Bytes got(shot.Pixels.end() - static_cast<std::ptrdiff_t>(kWidth) * band * 4,
                    shot.Pixels.end());
    std::string where;
    EXPECT_EQ(DifferingPixels(got, ExpectedBanner(text, kWidth, kHeight, dpi_), kWidth, &where), 0)
        << what << ": " << where;
  }

  TempFolder folder_{"kelvane-drop"};
  ParentWindow parent_{kWidth, kHeight};
  std::string image_path_;
  int dpi_ = 96;
};

TEST_F(DropDll, ADropWritesTheFilesRereadsAndSelectsThem) {
  const HWND window = Open(D64WithEntries(3), "disk.d64");
  IDropTarget* target = TargetOf(window);
  ASSERT_NE(target, nullptr);
  const Bytes first = PatternBytes(700, 21);
  const Bytes second = PatternBytes(30, 22);
  const auto data = FilesOf({HostFile("first.prg", first), HostFile("second.seq", second)});
  const DropOutcome outcome = DropOnto(target, data.Get(), DROPEFFECT_COPY | DROPEFFECT_MOVE);
  EXPECT_EQ(outcome.enter, static_cast<DWORD>(DROPEFFECT_COPY));
  EXPECT_EQ(outcome.drop, static_cast<DWORD>(DROPEFFECT_COPY));

  const Bytes now = ReadTestFile(image_path_);
  TKvDragFileArray files;
  ASSERT_TRUE(BuildDragFiles(now, ".d64", {3, 4}, files));
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files[0].Bytes, first);
  EXPECT_EQ(files[1].Bytes, second);
  // Every file was written: no banner; the two new entries selected.
  Scene scene;
  scene.data = now;
  scene.width = kWidth;
  scene.height = kHeight;
  scene.dpi = dpi_;
  scene.selected = {3, 4};
  const view::TKvWindowPixels shot = view::KvCaptureWindow(window);
  std::string where;
  EXPECT_EQ(DifferingPixels(shot.Pixels, ExpectedFrame(scene), kWidth, &where), 0) << where;

  // A path the system code page cannot hold is named; the other file is still written.
  const auto mixed = FilesOf({HostFile("third.prg", first), HostFile("\xCE\xA9mega.prg", second)});
  EXPECT_EQ(DropOnto(target, mixed.Get(), DROPEFFECT_COPY).drop,
            static_cast<DWORD>(DROPEFFECT_COPY));
  ExpectBanner(window, L"\u03A9mega.prg: The file could not be read.", "mixed drop");
  TKvRowModel model;
  ASSERT_TRUE(BuildRowModel(ReadTestFile(image_path_), ".d64", model));
  EXPECT_EQ(RowCount(model), 6);
}

TEST_F(DropDll, RefusedDropsWriteNothing) {
  const Bytes disk = D64WithEntries(2);
  const std::wstring file = HostFile("new.prg", PatternBytes(100, 3));
  struct Case {
    const char* what;
    std::string name;
    Bytes image;
    bool stream;
    std::vector<std::wstring> paths;
    bool offer_files;
    DWORD offered;
    std::wstring banner;  // "" for none
  };
  Bytes big(16 * 1024 * 1024 + 1, 0);
  const std::vector<Case> cases = {
      {"plain text", "a.d64", disk, false, {file}, false, DROPEFFECT_COPY, L""},
      {"move only", "b.d64", disk, false, {file}, true, DROPEFFECT_MOVE, L""},
      {"link only", "c.d64", disk, false, {file}, true, DROPEFFECT_LINK, L""},
      {"a G64",
       "d.g64",
       ReadTestFile("tests/data/cc1541.g64"),
       false,
       {file},
       true,
       DROPEFFECT_COPY,
       L"This image format is read-only."},
      {"inside an archive",
       "e.d64",
       disk,
       true,
       {file},
       true,
       DROPEFFECT_COPY,
       L"This image has no file of its own (it is inside an archive); nothing can be dropped on "
       L"it."},
      {"unreadable, inside an archive",
       "f.d64",
       Bytes(3000, 0x55),
       true,
       {file},
       true,
       DROPEFFECT_COPY,
       L"This image could not be read; nothing can be dropped on it."},
      {"over 16 MiB",
       "g.d64",
       big,
       false,
       {file},
       true,
       DROPEFFECT_COPY,
       std::wstring(L"") + view::Widen(DkWriteBlockReason("g.d64", 0))},
      {"only a name outside the code page",
       "h.d64",
       disk,
       false,
       {HostFile("\xCE\xA9.prg", PatternBytes(10, 1))},
       true,
       DROPEFFECT_COPY,
       L"\u03A9.prg: The file could not be read."},
  };
  for (const Case& c : cases) {
    const HWND window = Open(c.image, c.name, c.stream);
    ASSERT_NE(window, nullptr) << c.what;
    IDropTarget* target = TargetOf(window);
    ASSERT_NE(target, nullptr) << c.what;
    const auto data = FilesOf(c.paths, c.offer_files);
    const DropOutcome outcome = DropOnto(target, data.Get(), c.offered);
    EXPECT_EQ(outcome.drop, static_cast<DWORD>(DROPEFFECT_NONE)) << c.what;
    if (c.offer_files && c.banner.find(L"could not be read.") == std::wstring::npos) {
      EXPECT_EQ(outcome.enter, static_cast<DWORD>(DROPEFFECT_NONE)) << c.what;
    }
    EXPECT_EQ(ReadTestFile(image_path_), c.image) << c.what;
    if (!c.banner.empty()) ExpectBanner(window, c.banner, c.what);
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

}  // namespace
}  // namespace kelvane::testing
