#pragma once

// The entries behind the listing picture and which of them are selected. Listing row 0 is the
// disk header, row k + 1 shows entry k, the last row is "BLOCKS FREE."; only entries can be
// selected. Both records are plain data: the preview window feeds them input and paints from them.

#include <string>
#include <vector>

#include "cbm/entry.h"
#include "common/bytes.h"

namespace kelvane {

struct TKvRowModel {
  bool Loaded = false;  // the image was read and its directory parsed
  TDkCbmEntryArray Entries;
};

struct TKvSelection {
  std::vector<bool> Selected;  // one element per entry of the model it was made for
  int Anchor = -1;             // where a range selection starts
  int Caret = -1;              // the keyboard focus
};

// The model of `data`: false (and an empty model) when no reader takes it or it cannot be read.
bool BuildRowModel(ByteView data, const std::string& file_name, TKvRowModel& model);

int RowCount(const TKvRowModel& model);
// The entry under window coordinate y, or -1 (header, below the last entry, bad row height).
int EntryAt(const TKvRowModel& model, int scroll_offset, int y, int row_height);
inline int ListingRowOf(int entry) {
  return entry + 1;
}
int FirstEntry(const TKvRowModel& model);
int LastEntry(const TKvRowModel& model);
int PageRows(int view_height, int row_height);
// index + delta kept inside the entries; -1 when there are none.
int MoveClamped(const TKvRowModel& model, int index, int delta);

void SelectionInit(TKvSelection& selection, const TKvRowModel& model);
void SelectionClear(TKvSelection& selection);
void SelectOnly(TKvSelection& selection, int index);
void ToggleOne(TKvSelection& selection, int index);
// Selects exactly the span from the anchor (or `index` without one) to `index`.
void SelectRangeTo(TKvSelection& selection, int index);
// Adds that span to what is selected already.
void AddRangeTo(TKvSelection& selection, int index);
void MoveCaret(TKvSelection& selection, int index);
void SelectAll(TKvSelection& selection);
bool IsSelected(const TKvSelection& selection, int index);
int SelectedCount(const TKvSelection& selection);
std::vector<int> SelectedIndices(const TKvSelection& selection);

// Keys the list understands, by their Windows virtual-key codes.
enum TKvKey : int {
  kkEscape = 0x1B,
  kkSpace = 0x20,
  kkPageUp = 0x21,
  kkPageDown = 0x22,
  kkEnd = 0x23,
  kkHome = 0x24,
  kkLeft = 0x25,
  kkUp = 0x26,
  kkRight = 0x27,
  kkDown = 0x28,
  kkA = 0x41,
};

struct TKvKeyOutcome {
  bool Used = false;   // the list took the key (otherwise it goes on to the frame)
  bool Moved = false;  // a movement key: the caret's row is to be scrolled into view
};

TKvKeyOutcome KvApplyKey(const TKvRowModel& model, TKvSelection& selection, int key, bool shift,
                         bool ctrl, int client_height, int row_height);

// What a mouse press on the list left pending until the button comes up again.
struct TKvPressOutcome {
  bool DeferredCollapse = false;  // a plain press on one of several selected entries
  bool DeferredDeselect = false;  // a Ctrl press on a selected entry
  bool MayDrag = false;           // the entry under the press is selected now
};

TKvPressOutcome KvApplyPress(TKvSelection& selection, int entry, bool shift, bool ctrl);

// After a drop: selects the entries of `model` that `before` did not have (same directory slot
// and name, not scratched), anchor and caret on the first of them (-1 when there is none).
void SelectAddedEntries(TKvSelection& selection, const TDkCbmEntryArray& before,
                        const TKvRowModel& model);

}  // namespace kelvane
