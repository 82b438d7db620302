#include "shell/row_model.h"

#include <algorithm>
#include <exception>

#include "registry/registry.h"

namespace kelvane {

namespace {

bool IsValid(const TKvSelection& selection, int index) {
  return index >= 0 && static_cast<std::size_t>(index) < selection.Selected.size();
}

// Marks min(a, b)..max(a, b); `keep_others` leaves the rest as it is, otherwise it is cleared.
void MarkRange(TKvSelection& selection, int index, bool keep_others) {
  if (!IsValid(selection, index)) return;
  const int from = IsValid(selection, selection.Anchor) ? selection.Anchor : index;
  const int low = std::min(from, index);
  const int high = std::max(from, index);
  for (int k = 0; k < static_cast<int>(selection.Selected.size()); ++k) {
    const bool inside = k >= low && k <= high;
    if (inside || !keep_others) selection.Selected[k] = inside;
  }
  selection.Anchor = from;
  selection.Caret = index;
}

}  // namespace

bool BuildRowModel(ByteView data, const std::string& file_name, TKvRowModel& model) {
  model = TKvRowModel{};
  try {
    const long long size = static_cast<long long>(data.size());
    if (DkDetectImageFormat(file_name, data, size) == cifUnknown) return false;
    // A damaged directory offers what can be read, as the listing shows it.
    const auto image = DkOpenImage(TDkImageBytes::Borrow(data), file_name, true);
    TKvRowModel loaded;
    loaded.Entries = image->Entries();
    loaded.Loaded = true;
    model = std::move(loaded);
    return true;
  } catch (const std::exception&) {
    model = TKvRowModel{};
    return false;
  }
}

int RowCount(const TKvRowModel& model) {
  return model.Loaded ? static_cast<int>(model.Entries.size()) : 0;
}

int EntryAt(const TKvRowModel& model, int scroll_offset, int y, int row_height) {
  const long long p = static_cast<long long>(scroll_offset) + y;
  if (row_height < 1 || p < 0) return -1;
  const long long row = p / row_height - 1;
  return row >= 0 && row < RowCount(model) ? static_cast<int>(row) : -1;
}

int FirstEntry(const TKvRowModel& model) {
  return RowCount(model) < 1 ? -1 : 0;
}

int LastEntry(const TKvRowModel& model) {
  return RowCount(model) - 1;
}

int PageRows(int view_height, int row_height) {
  if (row_height < 1) return 1;
  return std::max(1, view_height / row_height);
}

int MoveClamped(const TKvRowModel& model, int index, int delta) {
  if (RowCount(model) < 1) return -1;
  const long long target = static_cast<long long>(index) + delta;
  return static_cast<int>(std::clamp<long long>(target, 0, LastEntry(model)));
}

void SelectionInit(TKvSelection& selection, const TKvRowModel& model) {
  selection.Selected.assign(static_cast<std::size_t>(RowCount(model)), false);
  selection.Anchor = -1;
  selection.Caret = -1;
}

void SelectionClear(TKvSelection& selection) {
  std::fill(selection.Selected.begin(), selection.Selected.end(), false);
  selection.Anchor = -1;
  selection.Caret = -1;
}

void SelectOnly(TKvSelection& selection, int index) {
  SelectionClear(selection);
  if (!IsValid(selection, index)) return;
  selection.Selected[index] = true;
  selection.Anchor = selection.Caret = index;
}

void ToggleOne(TKvSelection& selection, int index) {
  if (!IsValid(selection, index)) return;
  selection.Selected[index] = !selection.Selected[index];
  selection.Anchor = selection.Caret = index;
}

void SelectRangeTo(TKvSelection& selection, int index) {
  MarkRange(selection, index, false);
}

void AddRangeTo(TKvSelection& selection, int index) {
  MarkRange(selection, index, true);
}

void MoveCaret(TKvSelection& selection, int index) {
  if (IsValid(selection, index)) selection.Caret = index;
}

void SelectAll(TKvSelection& selection) {
  if (selection.Selected.empty()) return;
  std::fill(selection.Selected.begin(), selection.Selected.end(), true);
  if (IsValid(selection, selection.Caret)) {
    if (!IsValid(selection, selection.Anchor)) selection.Anchor = selection.Caret;
  } else {
    selection.Caret = 0;
    if (!IsValid(selection, selection.Anchor)) selection.Anchor = 0;
  }
}

bool IsSelected(const TKvSelection& selection, int index) {
  return IsValid(selection, index) && selection.Selected[index];
}

int SelectedCount(const TKvSelection& selection) {
  return static_cast<int>(std::count(selection.Selected.begin(), selection.Selected.end(), true));
}

std::vector<int> SelectedIndices(const TKvSelection& selection) {
  std::vector<int> indices;
  for (std::size_t k = 0; k < selection.Selected.size(); ++k) {
    if (selection.Selected[k]) indices.push_back(static_cast<int>(k));
  }
  return indices;
}

TKvKeyOutcome KvApplyKey(const TKvRowModel& model, TKvSelection& selection, int key, bool shift,
                         bool ctrl, int client_height, int row_height) {
  int target = -1;
  switch (key) {
    case kkEscape:
      if (SelectedCount(selection) == 0) return {};
      SelectionClear(selection);
      return {true, false};
    case kkSpace:
      if (shift || selection.Caret < 0) return {};
      ToggleOne(selection, selection.Caret);
      return {true, false};
    case kkA:
      if (!ctrl || RowCount(model) < 1) return {};
      SelectAll(selection);
      return {true, false};
    case kkPageUp:
    case kkPageDown: {
      const int page = PageRows(client_height, row_height);
      target = MoveClamped(model, selection.Caret, key == kkPageUp ? -page : page);
      break;
    }
    case kkHome:
      target = FirstEntry(model);
      break;
    case kkEnd:
      target = LastEntry(model);
      break;
    case kkUp:
    case kkDown:
      target = MoveClamped(model, selection.Caret, key == kkUp ? -1 : 1);
      break;
    default:
      return {};
  }
  // Without a caret every movement starts at the first entry; End still goes to the last.
  if (selection.Caret < 0 && key != kkEnd) target = FirstEntry(model);
  if (shift) {
    SelectRangeTo(selection, target);
  } else if (ctrl) {
    MoveCaret(selection, target);
  } else {
    SelectOnly(selection, target);
  }
  return {true, true};
}

TKvPressOutcome KvApplyPress(TKvSelection& selection, int entry, bool shift, bool ctrl) {
  TKvPressOutcome outcome;
  const bool on_selected = IsSelected(selection, entry);
  if (!shift && !ctrl && on_selected && SelectedCount(selection) > 1) {
    outcome.DeferredCollapse = true;
  } else if (ctrl && !shift && on_selected) {
    outcome.DeferredDeselect = true;
  } else if (shift && ctrl) {
    AddRangeTo(selection, entry);
  } else if (shift) {
    SelectRangeTo(selection, entry);
  } else if (ctrl) {
    ToggleOne(selection, entry);
  } else {
    SelectOnly(selection, entry);
  }
  outcome.MayDrag = IsSelected(selection, entry);
  return outcome;
}

void SelectAddedEntries(TKvSelection& selection, const TDkCbmEntryArray& before,
                        const TKvRowModel& model) {
  SelectionInit(selection, model);
  for (int k = 0; k < RowCount(model); ++k) {
    const TDkCbmEntry& entry = model.Entries[k];
    if (entry.Scratched) continue;
    const bool present = std::any_of(before.begin(), before.end(), [&](const TDkCbmEntry& old) {
      return old.Location.Track == entry.Location.Track &&
             old.Location.Sector == entry.Location.Sector &&
             old.Location.Index == entry.Location.Index && old.Name == entry.Name && !old.Scratched;
    });
    if (present) continue;
    selection.Selected[k] = true;
    if (selection.Caret < 0) selection.Anchor = selection.Caret = k;
  }
}

}  // namespace kelvane
