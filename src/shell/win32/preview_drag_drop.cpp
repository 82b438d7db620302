// The preview's drag and drop: entries dragged out of the window, and host files dropped onto it
// (the drop target's two questions, the write, and the re-read that selects the new entries).

#include <shlobj.h>

#include "host/host_files.h"
#include "shell/drag_files.h"
#include "shell/drop_write.h"
#include "shell/win32/data_object.h"
#include "shell/win32/entry_points.h"
#include "shell/win32/integrity.h"
#include "shell/win32/item_bytes.h"
#include "shell/win32/preview_handler.h"

namespace kelvane::win {

void TKvPreviewHandler::StartDrag() {
  const std::vector<int> indices = SelectedIndices(selection_);
  if (indices.empty()) return;
  TKvDragFileArray files;
  // An exception here (a looping directory, say) leaves before anything changed; the window
  // procedure absorbs it and no drag starts.
  if (!BuildDragFiles(data_, detection_name_, indices, files) || files.empty()) return;
  Microsoft::WRL::ComPtr<IDataObject> data_object;
  *data_object.GetAddressOf() = new TKvDataObject(std::move(files), KvTransferRoot(low_integrity_));
  Microsoft::WRL::ComPtr<IDropSource> source;
  *source.GetAddressOf() = new TKvDropSource();
  // The window may be reset while the modal loop runs; the handler stays alive until it ends.
  AddRef();
  busy_ = true;
  struct EndDrag {
    TKvPreviewHandler* handler;
    ~EndDrag() {
      handler->busy_ = false;
      handler->Release();
    }
  } end{this};
  DWORD effect = DROPEFFECT_NONE;
  if (const auto loop = KvEntryPoints().DragLoop; loop != nullptr) {
    loop(data_object.Get(), source.Get(), DROPEFFECT_COPY, &effect);
  }
}

void TKvPreviewHandler::RegisterDropTarget() {
  if (window_ == nullptr || drop_target_) return;
  if (!ole_initialised_) {
    if (FAILED(::OleInitialize(nullptr))) return;
    ole_initialised_ = true;
  }
  *drop_target_.GetAddressOf() =
      new TKvDropTarget([this](IDataObject* data, DWORD, POINTL) { return CanDrop(data); },
                        [this](const TKvPathArray& paths) { return DropFiles(paths); });
  if (FAILED(::RegisterDragDrop(window_, drop_target_.Get()))) {
    drop_target_->Detach();
    drop_target_.Reset();
  }
}

void TKvPreviewHandler::RevokeDropTarget() {
  if (drop_target_) {
    if (window_ != nullptr && ::IsWindow(window_)) ::RevokeDragDrop(window_);
    drop_target_->Detach();
    drop_target_.Reset();
  }
}

void TKvPreviewHandler::ReleaseOle() {
  if (ole_initialised_) {
    ole_initialised_ = false;
    ::OleUninitialize();
  }
}

bool TKvPreviewHandler::CanDrop(IDataObject* data) {
  if (busy_ || !KvHasFileDrop(data)) return false;
  // At low integrity the image may not be written: say so before the drop, not after it.
  if (low_integrity_) {
    SetBanner(kKvLowIntegrityRefusal);
    return false;
  }
  std::wstring reason = KvDropRefusal(image_path_, static_cast<long long>(data_.size()));
  if (!Readable() && (reason.empty() || reason == kKvArchiveRefusal)) {
    reason = kKvUnreadableRefusal;
  }
  if (reason.empty()) return true;
  SetBanner(std::move(reason));
  return false;
}

bool TKvPreviewHandler::DropFiles(const TKvPathArray& paths) {
  SetBanner(std::wstring());
  std::string image_path;
  if (image_path_.empty() || busy_ || !KvToWriterPath(image_path_, image_path)) return false;
  if (!Readable()) {
    SetBanner(kKvUnreadableRefusal);
    return false;
  }
  std::vector<std::string> files;
  std::wstring refused;
  for (const std::wstring& path : paths) {
    std::string converted;
    if (KvToWriterPath(path, converted)) {
      files.push_back(std::move(converted));
      continue;
    }
    const std::size_t slash = path.find_last_of(L"\\/");
    if (!refused.empty()) refused += L", ";
    refused += slash == std::wstring::npos ? path : path.substr(slash + 1);
  }
  const auto host = MakeSystemHostFiles();
  const TKvDropResult result = KvWriteDroppedFiles(image_path, files, *host);
  std::wstring banner = KvFromUtf8(KvDropSummary(result));
  if (!refused.empty()) {
    if (!banner.empty()) banner += L"  ";
    banner += refused + L": " + KvFromUtf8(KvDropErrorText(deUnreadable));
  }
  SetBanner(std::move(banner));
  if (result.WrittenCount > 0) {
    // Explorer shows the image's size, date and thumbnail: tell it the file changed.
    ::SHChangeNotify(SHCNE_UPDATEITEM, SHCNF_PATHW | SHCNF_FLUSHNOWAIT, image_path_.c_str(),
                     nullptr);
    if (!ReReadAfterDrop()) {
      SetBanner(L"The files were written, but the image could not be read back.");
    }
  }
  Invalidate();
  return result.WrittenCount > 0;
}

bool TKvPreviewHandler::ReReadAfterDrop() {
  const TDkCbmEntryArray before = row_model_.Entries;
  TKvItemBytes bytes;
  if (FAILED(KvReadFileItem(image_path_, bytes))) return false;
  data_ = std::move(bytes.Data);
  detection_name_ = std::move(bytes.DetectionName);
  ReadListing();
  const int rows = KvRowsNeeded(scroll_offset_, ClientHeight(), RowHeight());
  TDkRenderImage image;
  render_ok_ = RenderInto(rows, image);
  SetImage(std::move(image), rows);
  SelectAddedEntries(selection_, before, row_model_);
  ClampScroll();
  ScrollIntoView(selection_.Caret);
  Invalidate();
  return true;
}

}  // namespace kelvane::win
