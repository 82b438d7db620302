#pragma once

// Writers for the 1581 (D81), CMD native partitions (DNP) and DreamLoad archives (DFI).

#include <ctime>
#include <functional>
#include <memory>
#include <string>

#include "write/writer_base.h"

namespace kelvane {

class TDkD81Writer : public TDkCbmImageWriter {
 public:
  static std::unique_ptr<TDkD81Writer> FromBytes(WritableBytes bytes);

  void LocateBam(TDkBamLocation& location, int track) const override;
  void CheckWritable() const override;
  int HeaderTrack() const override { return kHeaderTrack; }
  int HeaderSector() const override { return 0; }
  int TrackCount() const override { return 80; }
  int SectorsOnTrack(int track) const override { return track >= 1 && track <= 80 ? 40 : 0; }
  int RawSectorOffset(int track, int sector) const override {
    return ((track - 1) * 40 + sector) * 256;
  }
  std::string FormatName() const override { return "D81"; }
  std::string DriveName() const override { return "1581"; }
  int DirTrack() const override { return kHeaderTrack; }
  int FirstDirSector() const override { return 3; }
  bool AllocateDataSector(int prev_track, int prev_sector, int& track, int& sector) override;
  int FreeBlocks() const override;
  bool ExtendDirectory(int last_track, int last_sector, int& track, int& sector,
                       int& slot) override;
  bool IsOldLayout() const override { return old_layout_; }
  bool HasErrorInfo() const { return has_error_info_; }

 private:
  static constexpr int kHeaderTrack = 40;
  TDkD81Writer(WritableBytes bytes, bool has_error_info);
  bool has_error_info_;
  bool old_layout_;
};

// The flat geometry of DNP and DFI: up to 256 tracks of 256 sectors.
class TDkFlatWriter : public TDkCbmImageWriter {
 public:
  void CheckWritable() const override;
  int HeaderTrack() const override { return 1; }
  int HeaderSector() const override { return 1; }
  int TrackCount() const override { return track_count_; }
  int SectorsOnTrack(int track) const override {
    return track >= 1 && track <= track_count_ ? 256 : 0;
  }
  int RawSectorOffset(int track, int sector) const override {
    return (track - 1) * 65536 + sector * 256;
  }
  int DirTrack() const override { return 1; }
  int FirstDirSector() const override { return first_dir_sector_; }
  bool AllocateDataSector(int prev_track, int prev_sector, int& track, int& sector) override;
  int ReservedFreeBlocks() const override;
  // Empty when the image may be written.
  const std::string& ReadOnlyReason() const { return read_only_reason_; }

 protected:
  // `reserved` sectors at the start of track 1 are never handed out.
  TDkFlatWriter(WritableBytes bytes, int reserved);
  void SetReadOnlyReason(std::string reason) { read_only_reason_ = std::move(reason); }
  // The disk-wide search from (track, sector) on: the next free sector, marked used.
  bool NextFreeFrom(int track, int sector, int& found_track, int& found_sector);

 private:
  int track_count_;
  int first_dir_sector_;
  int reserved_;
  std::string read_only_reason_;
};

class TDkDnpWriter : public TDkFlatWriter {
 public:
  static std::unique_ptr<TDkDnpWriter> FromBytes(WritableBytes bytes);

  void LocateBam(TDkBamLocation& location, int track) const override;
  std::uint8_t BamBitMask(int sector) const override {
    return static_cast<std::uint8_t>(0x80u >> (sector % 8));
  }
  std::string FormatName() const override;
  std::string DriveName() const override { return "DNP"; }
  int FreeBlocks() const override;
  bool ExtendDirectory(int last_track, int last_sector, int& track, int& sector,
                       int& slot) override;
  bool IsOldLayout() const override { return old_layout_; }
  // Stamps the entry with the local date and time.
  void FinishEntry(Bytes& dir_sector, int entry_offset) const override;
  // The clock the stamp reads (local time by default), replaceable for tests.
  void SetClock(std::function<std::tm()> clock) { clock_ = std::move(clock); }

 private:
  explicit TDkDnpWriter(WritableBytes bytes);
  bool old_layout_;
  std::function<std::tm()> clock_;
};

class TDkDfiWriter : public TDkFlatWriter {
 public:
  static std::unique_ptr<TDkDfiWriter> FromBytes(WritableBytes bytes);

  void LocateBam(TDkBamLocation& location, int track) const override;
  bool BamBitMeansFree() const override { return false; }
  std::string FormatName() const override { return "DFI"; }
  std::string DriveName() const override { return "DFI"; }
  int FreeBlocks() const override;
  bool ExtendDirectory(int last_track, int last_sector, int& track, int& sector,
                       int& slot) override;

 private:
  explicit TDkDfiWriter(WritableBytes bytes);
};

}  // namespace kelvane
