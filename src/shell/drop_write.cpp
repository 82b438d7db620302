#include "shell/drop_write.h"

#include <exception>
#include <memory>
#include <optional>

#include "common/format.h"
#include "common/text.h"
#include "registry/registry.h"
#include "write/directory_writer.h"
#include "write/drop_prep.h"
#include "write/names.h"
#include "write/writer_select.h"

namespace kelvane {

namespace {

bool IsSeparator(char c) {
#ifdef _WIN32
  return c == '\\' || c == '/';
#else
  return c == '/';
#endif
}

// The file-name part of a dropped path, a trailing separator removed first.
std::string DisplayName(std::string path) {
  if (!path.empty() && IsSeparator(path.back())) path.pop_back();
  for (std::size_t i = path.size(); i > 0; --i) {
    if (IsSeparator(path[i - 1])) return path.substr(i);
  }
  return path;
}

std::string UpperWithoutTrailingBlanks(std::string text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return DkAsciiUpper(std::move(text));
}

// Records a code; an empty message becomes the code's own text.
template <typename Record>
void SetCode(Record& record, TKvDropError code, std::string message = std::string()) {
  record.Code = code;
  record.Message = message.empty() ? KvDropErrorText(code) : std::move(message);
}

std::string MessageOf(const std::exception& error) {
  if (const auto* own = dynamic_cast<const Exception*>(&error)) return own->Message();
  return error.what();
}

// Raised by the steps after the in-memory writing; carries whether a leftover copy was named.
struct SwapFailure {
  std::string message;
  bool has_leftover = false;
};

bool NameTaken(const TDkCbmImageWriter& writer, const std::string& cbm_name) {
  return DkCbmHostNameInDirectory(writer, writer.DirTrack(), writer.FirstDirSector(), cbm_name) ||
         DkCbmBytesNameInDirectory(writer, writer.DirTrack(), writer.FirstDirSector(), cbm_name);
}

// A file of the batch on its way into the image.
struct Pending {
  std::size_t index = 0;  // into the result's files
  TDkPreparedFile prepared;
};

class DropTransaction {
 public:
  DropTransaction(const std::string& image_path, HostFiles& host, TKvDropResult& result)
      : image_path_(image_path),
        temp_path_(image_path + kKvTempSuffix),
        host_(host),
        result_(result) {}

  void Run() {
    if (DkHasReadOnlyExtension(image_path_)) return SetCode(result_, deReadOnlyFormat);
    TKvDropError code = deNone;
    if (!KvReadImageForWrite(host_, image_path_, image_, code)) return SetCode(result_, code);
    const auto size = static_cast<long long>(image_.size());
    // Known by its signature too: a GCR image or an archive under another name is read-only.
    const TDkCbmImageFormat format = DkDetectImageFormat(image_path_, image_, size);
    if (format != cifUnknown && !DkIsWritableFormat(format))
      return SetCode(result_, deReadOnlyFormat);
    const std::string reason = DkWriteBlockReason(image_path_, size);
    if (!reason.empty()) return SetCode(result_, deNotWritable, reason);
    try {
      writer_ = DkOpenWriter(image_, image_path_);
    } catch (const std::exception& error) {
      return SetCode(result_, deNotWritable, MessageOf(error));
    }
    // An old layout, also that of a CMD disk's default partition, gives its writer's reason.
    if (writer_->IsOldLayout())
      return SetCode(result_, deReadOnlyFormat, writer_->ReadOnlyReason());

    Prepare();
    if (pending_.empty()) return;
    std::vector<TDkCbmSpaceSource> sources;
    for (const Pending& file : pending_) {
      sources.push_back(
          {file.prepared.FileType, static_cast<std::int64_t>(file.prepared.Content.size())});
    }
    if (!DkPlanFits(DkPlanSpace(*writer_, sources))) return SetCode(result_, deNoSpace);

    AddFiles();
    if (written_entries_.empty()) return;
    try {
      WriteVerifySwap();
    } catch (const SwapFailure& failure) {
      for (TKvDropFile& file : result_.Files) {
        if (!file.Written) continue;
        file.Written = false;
        SetCode(file, deWriteFailed, failure.has_leftover ? failure.message : std::string());
      }
      return SetCode(result_, deWriteFailed, failure.message);
    }
    for (const TKvDropFile& file : result_.Files) result_.WrittenCount += file.Written ? 1 : 0;
  }

  // Whatever went wrong outside the planned failures: nothing counts as written, and a new image
  // that did not replace the old one is removed.
  void Abandon(const std::string& message) {
    result_.WrittenCount = 0;
    for (TKvDropFile& file : result_.Files) file.Written = false;
    SetCode(result_, deWriteFailed, message);
    if (host_.Exists(temp_path_) && host_.Exists(image_path_)) host_.Remove(temp_path_);
  }

 private:
  void Prepare() {
    for (std::size_t i = 0; i < result_.Files.size(); ++i) {
      TKvDropFile& file = result_.Files[i];
      const std::string name = DisplayName(file.Path);
      if (host_.IsDirectory(file.Path)) {
        SetCode(file, deFolder);
        continue;
      }
      Bytes bytes;
      if (!KvReadDroppedFile(host_, file.Path, bytes)) {
        SetCode(file, deUnreadable);
        continue;
      }
      Pending pending{i, DkPrepareDroppedFile(name, bytes)};
      file.CbmName = pending.prepared.CbmName;
      file.FileType = pending.prepared.FileType;
      if (NameTaken(*writer_, file.CbmName)) {
        SetCode(file, deNameTaken);
        continue;
      }
      pending_.push_back(std::move(pending));
    }
  }

  void AddFiles() {
    for (Pending& pending : pending_) {
      TKvDropFile& file = result_.Files[pending.index];
      if (NameTaken(*writer_, file.CbmName)) {
        SetCode(file, deNameTaken);
        continue;
      }
      // The writer's journal is the snapshot: it keeps only the bytes this file changes, where a
      // copy of the image (up to 16 MiB) per file would cost more than the writing itself.
      writer_->StartJournal();
      const Bytes name = pending.prepared.RawName.empty() ? DkCbmHostNameToBytes(file.CbmName)
                                                          : pending.prepared.RawName;
      try {
        written_entries_.push_back(DkCbmAddFile(*writer_, writer_->DirTrack(),
                                                writer_->FirstDirSector(), name, file.FileType,
                                                pending.prepared.Content));
        written_contents_.push_back(std::move(pending.prepared.Content));
        file.Written = true;
      } catch (const std::exception& error) {
        // Back to the bytes before this file, on a fresh writer.
        writer_->RollBack();
        writer_.reset();
        writer_ = DkOpenWriter(image_, image_path_);
        SetCode(file, deWriteFailed, MessageOf(error));
      }
    }
  }

  void WriteVerifySwap() {
    const Bytes& bytes = image_;  // the writer has worked on it in place
    std::string leftover;
    try {
      KvWriteTempImage(host_, temp_path_, bytes);
      KvVerifyTempImage(host_, temp_path_, image_path_, bytes, written_entries_, written_contents_);
      std::uint32_t error_code = 0;
      if (!KvSwapInTemp(host_, temp_path_, image_path_, leftover, error_code)) {
        std::string message;
        if (leftover == temp_path_) {
          message =
              Format("The image could not be put back under its own name; the new one is at %s",
                     temp_path_.c_str());
        } else if (!leftover.empty()) {
          message =
              Format("The image could not be put back under its own name; the original is at %s",
                     leftover.c_str());
        } else {
          message = host_.ErrorText(error_code);
        }
        throw SwapFailure{message, !leftover.empty()};
      }
    } catch (const SwapFailure&) {
      if (leftover != temp_path_) host_.Remove(temp_path_);
      throw;
    } catch (const std::exception& error) {
      host_.Remove(temp_path_);
      throw SwapFailure{MessageOf(error), false};
    }
  }

  std::string image_path_;
  std::string temp_path_;
  HostFiles& host_;
  TKvDropResult& result_;
  Bytes image_;
  std::unique_ptr<TDkCbmImageWriter> writer_;
  std::vector<Pending> pending_;
  TDkCbmEntryArray written_entries_;
  std::vector<Bytes> written_contents_;
};

}  // namespace

std::string KvDropErrorText(TKvDropError code) {
  switch (code) {
    case deNone:
      return std::string();
    case deReadOnlyFormat:
      return "This image format is read-only.";
    case deNoSpace:
      return "Not enough free blocks on the disk.";
    case deNameTaken:
      return "A file of that name is already on the disk; skipped.";
    case deImageInUse:
      return "The image is open in another program.";
    case deNotWritable:
      return "This is not a disk image that can be written.";
    case deFolder:
      return "Folders are not written into a disk image.";
    case deUnreadable:
      return "The file could not be read.";
    case deWriteFailed:
      return "The image could not be written; it is unchanged.";
    case deAccessDenied:
      return "The image file is read-only or may not be written here.";
  }
  return std::string();
}

TKvDropResult KvWriteDroppedFiles(const std::string& image_path,
                                  const std::vector<std::string>& paths, HostFiles& host) {
  TKvDropResult result;
  for (const std::string& path : paths)
    result.Files.push_back(TKvDropFile{path, {}, cftPRG, false, deNone, {}});
  if (paths.empty()) return result;
  DropTransaction transaction(image_path, host, result);
  try {
    transaction.Run();
  } catch (const std::exception& error) {
    transaction.Abandon(MessageOf(error));
  } catch (...) {
    transaction.Abandon(KvDropErrorText(deWriteFailed));
  }
  return result;
}

std::string KvDropSummary(const TKvDropResult& result) {
  if (result.Code != deNone) return result.Message;
  std::string summary;
  for (int code = deReadOnlyFormat; code <= deWriteFailed; ++code) {
    std::string names;
    for (const TKvDropFile& file : result.Files) {
      if (file.Written || file.Code != code) continue;
      if (!names.empty()) names += ", ";
      names += DisplayName(file.Path);
    }
    if (names.empty()) continue;
    if (!summary.empty()) summary += "  ";
    summary += names + ": " + KvDropErrorText(static_cast<TKvDropError>(code));
  }
  return summary;
}

bool KvReadImageForWrite(HostFiles& host, const std::string& path, Bytes& bytes,
                         TKvDropError& code) {
  switch (host.ReadForWrite(path, kKvMaxFileSize, bytes)) {
    case HostOpenStatus::kOk:
      code = deNone;
      return true;
    case HostOpenStatus::kAccessDenied:
      code = deAccessDenied;
      break;
    case HostOpenStatus::kInUse:
      code = deImageInUse;
      break;
    case HostOpenStatus::kFailed:
      code = deNotWritable;
      break;
  }
  bytes.clear();
  return false;
}

bool KvReadDroppedFile(HostFiles& host, const std::string& path, Bytes& bytes) {
  return host.ReadDenyWrite(path, kKvMaxFileSize, bytes);
}

void KvWriteTempImage(HostFiles& host, const std::string& temp_path, const Bytes& bytes) {
  host.WriteDurably(temp_path, bytes);
}

bool KvVerifyTempImage(HostFiles& host, const std::string& temp_path, const std::string& image_path,
                       const Bytes& bytes, const TDkCbmEntryArray& entries,
                       const std::vector<Bytes>& contents) {
  static const char* const kMismatch = "the written image did not read back as written";
  Bytes read_back;
  if (!KvReadDroppedFile(host, temp_path, read_back) || read_back != bytes)
    throw Exception(kMismatch);
  const std::unique_ptr<TDkCbmImage> image = DkOpenImage(std::move(read_back), image_path, false);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const TDkCbmEntry& written = entries[i];
    const TDkCbmEntry* found = nullptr;
    for (const TDkCbmEntry& entry : image->Entries()) {
      if (entry.Location.Track == written.Location.Track &&
          entry.Location.Sector == written.Location.Sector &&
          entry.Location.Index == written.Location.Index) {
        found = &entry;
        break;
      }
    }
    if (found == nullptr || found->FileType != written.FileType ||
        UpperWithoutTrailingBlanks(found->Name) != UpperWithoutTrailingBlanks(written.Name) ||
        i >= contents.size() || image->ReadFile(*found) != contents[i])
      throw Exception(kMismatch);
  }
  return true;
}

bool KvSwapInTemp(HostFiles& host, const std::string& temp_path, const std::string& image_path,
                  std::string& leftover_path, std::uint32_t& error_code) {
  leftover_path.clear();
  const std::string backup_path = image_path + kKvBackupSuffix;
  bool swapped = false;
  // A virus scanner or indexer that opened the new file (or the image) for a moment makes the
  // replace fail where it would work a moment later: a few more tries, 0.75 s of waiting in all.
  error_code = host.Replace(image_path, temp_path, backup_path);
  for (const unsigned pause : {50u, 100u, 200u, 400u}) {
    if (error_code == 0 || !host.MayPass(error_code)) break;
    host.Wait(pause);
    error_code = host.Replace(image_path, temp_path, backup_path);
  }
  if (error_code == 0) {
    swapped = true;
  } else if (error_code == kHostUnableToRemoveReplaced ||
             error_code == kHostUnableToMoveReplacement || host.MayPass(error_code)) {
    // Nothing was moved: the image is as it was. (Still held by another program after the
    // tries, the image would refuse the rename below just the same.)
  } else if (error_code == kHostUnableToMoveReplacement2) {
    // The previous image is at the backup name: put it back.
    if (host.Move(backup_path, image_path, false) != 0) leftover_path = backup_path;
  } else {
    // A replace this file system does not offer, say: the plain rename over the image.
    const std::uint32_t move_error = host.Move(temp_path, image_path, true);
    if (move_error == 0) {
      swapped = true;
    } else {
      error_code = move_error;
    }
  }
  if (!swapped && leftover_path.empty() && !host.Exists(image_path)) {
    if (host.Exists(backup_path)) {
      leftover_path = backup_path;
    } else if (host.Exists(temp_path)) {
      leftover_path = temp_path;
    }
  }
  try {
    if (leftover_path != backup_path && host.Exists(backup_path)) host.Remove(backup_path);
  } catch (const std::exception&) {
    // Only a spare copy stays behind; the swap itself has been decided, and a later drop
    // replaces the copy.
    if (swapped) return true;
    throw;
  }
  return swapped;
}

}  // namespace kelvane
