#include "shell/row_model.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/disk_builder.h"

namespace kelvane {
namespace {

using testing::D64WithEntries;

TKvRowModel ModelWith(int entries) {
  TKvRowModel model;
  EXPECT_TRUE(BuildRowModel(D64WithEntries(entries), "x.d64", model));
  return model;
}

// "-X-X a1 c3": selected flags, anchor and caret.
std::string Describe(const TKvSelection& s) {
  std::string text;
  for (bool selected : s.Selected) text += selected ? 'X' : '-';
  return text + " a" + std::to_string(s.Anchor) + " c" + std::to_string(s.Caret);
}

// A selection over `model` in the state `flags` ("-X--"), anchor and caret as given.
TKvSelection State(const std::string& flags, int anchor, int caret) {
  TKvSelection s;
  for (char c : flags) s.Selected.push_back(c == 'X');
  s.Anchor = anchor;
  s.Caret = caret;
  return s;
}

TEST(RowModel, IsBuiltFromAnyReadableImageAndEmptyOtherwise) {
  const TKvRowModel model = ModelWith(3);
  EXPECT_TRUE(model.Loaded);
  ASSERT_EQ(RowCount(model), 3);
  EXPECT_EQ(model.Entries[2].Name, "GAME 2");

  TKvRowModel other = model;
  EXPECT_FALSE(BuildRowModel(Bytes(1000, 0x11), "x.prg", other));
  EXPECT_FALSE(other.Loaded);
  EXPECT_TRUE(other.Entries.empty());
  EXPECT_EQ(FirstEntry(other), -1);
  EXPECT_EQ(LastEntry(other), -1);

  // A directory whose chain breaks offers the entries read before the break.
  Bytes broken = D64WithEntries(12);
  testing::SectorEditor(broken, testing::D64Offset).Link(18, 2, 50, 0);
  ASSERT_TRUE(BuildRowModel(broken, "x.d64", other));
  EXPECT_EQ(RowCount(other), 12);
}

TEST(RowModel, MapsWindowRowsToEntriesBelowTheHeader) {
  const TKvRowModel model = ModelWith(3);
  struct Case {
    int scroll, y, row_height, entry;
  };
  const Case cases[] = {{0, 15, 16, -1}, {0, 16, 16, 0}, {0, 63, 16, 2},
                        {0, 64, 16, -1}, {20, 0, 16, 0}, {40, 0, 16, 1}};
  for (const Case& c : cases) {
    EXPECT_EQ(EntryAt(model, c.scroll, c.y, c.row_height), c.entry)
        << "scroll " << c.scroll << " y " << c.y;
  }
  EXPECT_EQ(PageRows(100, 16), 6);
  EXPECT_EQ(PageRows(10, 16), 1);
  EXPECT_EQ(MoveClamped(model, 1, 10), 2);
  EXPECT_EQ(MoveClamped(model, 1, -10), 0);
  EXPECT_EQ(MoveClamped(model, 1, 1), 2);
}

TEST(Selection, OperationsMoveSelectionAnchorAndCaret) {
  const TKvRowModel model = ModelWith(5);
  TKvSelection s;
  SelectionInit(s, model);
  EXPECT_EQ(Describe(s), "----- a-1 c-1");

  SelectRangeTo(s, 3);  // no anchor: the target alone, and it becomes the anchor
  EXPECT_EQ(Describe(s), "---X- a3 c3");
  SelectRangeTo(s, 1);
  EXPECT_EQ(Describe(s), "-XXX- a3 c1");
  SelectRangeTo(s, 4);  // the other way round from the same anchor
  EXPECT_EQ(Describe(s), "---XX a3 c4");

  SelectOnly(s, 0);
  ToggleOne(s, 4);
  EXPECT_EQ(Describe(s), "X---X a4 c4");
  AddRangeTo(s, 2);  // keeps entry 0
  EXPECT_EQ(Describe(s), "X-XXX a4 c2");
  SelectRangeTo(s, 3);  // drops it
  EXPECT_EQ(Describe(s), "---XX a4 c3");
  MoveCaret(s, 0);
  EXPECT_EQ(Describe(s), "---XX a4 c0");
  ToggleOne(s, 4);
  EXPECT_EQ(Describe(s), "---X- a4 c4");

  // Invalid indices change nothing, except that SelectOnly always clears.
  for (int bad : {-1, 5}) {
    ToggleOne(s, bad);
    SelectRangeTo(s, bad);
    AddRangeTo(s, bad);
    MoveCaret(s, bad);
    EXPECT_EQ(Describe(s), "---X- a4 c4");
    EXPECT_FALSE(IsSelected(s, bad));
  }
  SelectOnly(s, 7);
  EXPECT_EQ(Describe(s), "----- a-1 c-1");

  SelectAll(s);  // fresh: caret and anchor on the first entry
  EXPECT_EQ(Describe(s), "XXXXX a0 c0");
  s = State("-X---", 1, 3);
  SelectAll(s);
  EXPECT_EQ(Describe(s), "XXXXX a1 c3");

  s = State("X-XX-", 0, 3);
  EXPECT_EQ(SelectedCount(s), 3);
  EXPECT_EQ(SelectedIndices(s), (std::vector<int>{0, 2, 3}));
  SelectionClear(s);
  EXPECT_EQ(Describe(s), "----- a-1 c-1");
}

TEST(Selection, KeyTable) {
  const TKvRowModel model = ModelWith(10);
  const TKvRowModel empty;
  struct Case {
    const char* what;
    const TKvRowModel* model;
    TKvSelection before;
    int key;
    bool shift, ctrl;
    bool used, moved;
    const char* after;
  };
  const std::string none(10, '-');
  const std::vector<Case> cases = {
      {"down without caret", &model, State(none, -1, -1), kkDown, false, false, true, true,
       "X--------- a0 c0"},
      {"end without caret", &model, State(none, -1, -1), kkEnd, false, false, true, true,
       "---------X a9 c9"},
      {"down", &model, State("--X-------", 2, 2), kkDown, false, false, true, true,
       "---X------ a3 c3"},
      {"page down by the client's rows", &model, State("X---------", 0, 0), kkPageDown, false,
       false, true, true, "---X------ a3 c3"},
      {"page down near the end", &model, State("-------X--", 7, 7), kkPageDown, false, false, true,
       true, "---------X a9 c9"},
      {"page up", &model, State("-------X--", 7, 7), kkPageUp, false, false, true, true,
       "----X----- a4 c4"},
      {"home", &model, State("-------X--", 7, 7), kkHome, false, false, true, true,
       "X--------- a0 c0"},
      {"shift down extends", &model, State("--X-------", 2, 2), kkDown, true, false, true, true,
       "--XX------ a2 c3"},
      {"shift home", &model, State("--X-------", 2, 2), kkHome, true, false, true, true,
       "XXX------- a2 c0"},
      {"ctrl down moves the caret only", &model, State("--X-------", 2, 2), kkDown, false, true,
       true, true, "--X------- a2 c3"},
      {"space toggles at the caret", &model, State("--X-------", 2, 3), kkSpace, false, false, true,
       false, "--XX------ a3 c3"},
      {"space with shift is passed on", &model, State("--X-------", 2, 3), kkSpace, true, false,
       false, false, "--X------- a2 c3"},
      {"space without caret", &model, State(none, -1, -1), kkSpace, false, false, false, false,
       "---------- a-1 c-1"},
      {"escape clears", &model, State("--XX------", 2, 3), kkEscape, false, false, true, false,
       "---------- a-1 c-1"},
      {"escape with nothing selected", &model, State(none, 4, 4), kkEscape, false, false, false,
       false, "---------- a4 c4"},
      {"ctrl+a", &model, State(none, -1, -1), kkA, false, true, true, false, "XXXXXXXXXX a0 c0"},
      {"a alone", &model, State(none, -1, -1), kkA, false, false, false, false,
       "---------- a-1 c-1"},
      {"left", &model, State("--X-------", 2, 2), kkLeft, false, false, false, false,
       "--X------- a2 c2"},
      {"down on an empty list", &empty, State("", -1, -1), kkDown, false, false, true, true,
       " a-1 c-1"},
      {"ctrl+a on an empty list", &empty, State("", -1, -1), kkA, false, true, false, false,
       " a-1 c-1"},
  };
  for (const Case& c : cases) {
    TKvSelection s = c.before;
    // A client 60 pixels high with 16-pixel rows pages by three entries.
    const TKvKeyOutcome outcome = KvApplyKey(*c.model, s, c.key, c.shift, c.ctrl, 60, 16);
    EXPECT_EQ(outcome.Used, c.used) << c.what;
    EXPECT_EQ(outcome.Moved, c.moved) << c.what;
    EXPECT_EQ(Describe(s), c.after) << c.what;
  }
}

TEST(Selection, PressRules) {
  struct Case {
    const char* what;
    TKvSelection before;
    int entry;
    bool shift, ctrl;
    bool collapse, deselect, may_drag;
    const char* after;
  };
  const std::vector<Case> cases = {
      {"plain press", State("X----", 0, 0), 3, false, false, false, false, true, "---X- a3 c3"},
      {"plain press outside clears", State("XX---", 0, 1), -1, false, false, false, false, false,
       "----- a-1 c-1"},
      {"plain press on one of several waits", State("XX-X-", 0, 3), 1, false, false, true, false,
       true, "XX-X- a0 c3"},
      {"plain press on the only selected one", State("-X---", 1, 1), 1, false, false, false, false,
       true, "-X--- a1 c1"},
      {"ctrl press on a selected one waits", State("XX---", 0, 1), 0, false, true, false, true,
       true, "XX--- a0 c1"},
      {"ctrl press adds", State("X----", 0, 0), 2, false, true, false, false, true, "X-X-- a2 c2"},
      {"shift press selects the range", State("X--X-", 3, 3), 1, true, false, false, false, true,
       "-XXX- a3 c1"},
      {"shift+ctrl press adds the range", State("X---X", 4, 4), 2, true, true, false, false, true,
       "X-XXX a4 c2"},
      {"ctrl press outside does nothing", State("X----", 0, 0), -1, false, true, false, false,
       false, "X---- a0 c0"},
  };
  for (const Case& c : cases) {
    TKvSelection s = c.before;
    const TKvPressOutcome outcome = KvApplyPress(s, c.entry, c.shift, c.ctrl);
    EXPECT_EQ(outcome.DeferredCollapse, c.collapse) << c.what;
    EXPECT_EQ(outcome.DeferredDeselect, c.deselect) << c.what;
    EXPECT_EQ(outcome.MayDrag, c.may_drag) << c.what;
    EXPECT_EQ(Describe(s), c.after) << c.what;
  }
}

TEST(Selection, AfterADropSelectsOnlyTheNewEntries) {
  TKvRowModel old_model = ModelWith(3);
  TKvRowModel new_model = ModelWith(6);
  new_model.Entries[1].Name = "RENAMED";  // same slot, other name: counts as new
  new_model.Entries[4].Scratched = true;  // scratched entries are never selected
  old_model.Entries[2].Scratched = true;  // a scratched old entry does not hide its slot
  TKvSelection s = State("XXXXXX", 0, 0);
  SelectAddedEntries(s, old_model.Entries, new_model);
  EXPECT_EQ(Describe(s), "-XXX-X a1 c1");
  SelectAddedEntries(s, new_model.Entries, new_model);
  EXPECT_EQ(Describe(s), "------ a-1 c-1");
}

}  // namespace
}  // namespace kelvane
