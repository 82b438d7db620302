#pragma once

// Writers for the 1541 (D64), 1571 (D71), 8050 (D80) and 8250 (D82): geometry, where each
// track's BAM lives, the drives' allocation orders for data and directory blocks, and free counts.

#include <memory>

#include "cbm/d64_variant.h"
#include "formats/geometry.h"
#include "write/writer_base.h"

namespace kelvane {

// Shared by the zoned-geometry writers.
class TDkZonedWriter : public TDkCbmImageWriter {
 public:
  int TrackCount() const override { return track_count_; }
  int SectorsOnTrack(int track) const override {
    return track <= track_count_ ? geometry_.SectorsInTrack(track) : 0;
  }
  int RawSectorOffset(int track, int sector) const override {
    return geometry_.SectorOffset(track, sector);
  }
  bool HasErrorInfo() const { return has_error_info_; }
  // Header in sector 0 and the directory from sector 1 of the system track (18, or 39 on IEEE
  // drives).
  int HeaderTrack() const override { return system_track_; }
  int HeaderSector() const override { return 0; }
  int DirTrack() const override { return system_track_; }
  int FirstDirSector() const override { return 1; }

 protected:
  TDkZonedWriter(WritableBytes bytes, const TDkZoneGeometry& geometry, int track_count,
                 bool has_error_info, int system_track)
      : TDkCbmImageWriter(bytes),
        geometry_(geometry),
        track_count_(track_count),
        has_error_info_(has_error_info),
        system_track_(system_track) {}
  // The lowest-numbered free sector of `track`, marked used.
  bool TakeFirstFree(int track, int& sector);
  // Tries the `count` sectors of `track` from `start` on (wrapping) and takes the first free one.
  bool TakeFromSector(int track, int start, int& sector);

 private:
  const TDkZoneGeometry& geometry_;
  int track_count_;
  bool has_error_info_;
  int system_track_;
};

class TDkD64Writer : public TDkZonedWriter {
 public:
  static std::unique_ptr<TDkD64Writer> FromBytes(WritableBytes bytes);
  TDkD64DosVariant Variant() const { return variant_; }

  void LocateBam(TDkBamLocation& location, int track) const override;
  std::string FormatName() const override { return "D64"; }
  std::string DriveName() const override { return "1541"; }
  bool AllocateDataSector(int prev_track, int prev_sector, int& track, int& sector) override;
  int FreeBlocks() const override;
  bool ExtendDirectory(int last_track, int last_sector, int& track, int& sector,
                       int& slot) override;

 private:
  TDkD64Writer(WritableBytes bytes, int track_count, bool has_error_info, TDkD64DosVariant variant);
  TDkD64DosVariant variant_;
  int ext_bam_offset_;
  int ext_bam_tracks_;
};

class TDkD71Writer : public TDkZonedWriter {
 public:
  static std::unique_ptr<TDkD71Writer> FromBytes(WritableBytes bytes);

  void LocateBam(TDkBamLocation& location, int track) const override;
  std::string FormatName() const override { return "D71"; }
  std::string DriveName() const override { return "1571"; }
  bool AllocateDataSector(int prev_track, int prev_sector, int& track, int& sector) override;
  int FreeBlocks() const override;
  bool ExtendDirectory(int last_track, int last_sector, int& track, int& sector,
                       int& slot) override;

 private:
  using TDkZonedWriter::TDkZonedWriter;
};

// 8050 and 8250: header on track 39, BAM sectors on track 38 covering 50 tracks each.
class TDkIeeeWriter : public TDkZonedWriter {
 public:
  void LocateBam(TDkBamLocation& location, int track) const override;
  void CheckWritable() const override;
  bool AllocateDataSector(int prev_track, int prev_sector, int& track, int& sector) override;
  int FreeBlocks() const override;
  bool ExtendDirectory(int last_track, int last_sector, int& track, int& sector,
                       int& slot) override;
  // Sector 38/0 byte 3 is 255: header and BAM links an 8050/8250 cannot follow.
  bool IsOldLayout() const override { return old_layout_; }

 protected:
  TDkIeeeWriter(WritableBytes bytes, const TDkZoneGeometry& geometry, bool has_error_info);

 private:
  bool old_layout_;
};

class TDkD80Writer : public TDkIeeeWriter {
 public:
  static std::unique_ptr<TDkD80Writer> FromBytes(WritableBytes bytes);
  std::string FormatName() const override { return "D80"; }
  std::string DriveName() const override { return "8050"; }

 private:
  using TDkIeeeWriter::TDkIeeeWriter;
};

class TDkD82Writer : public TDkIeeeWriter {
 public:
  static std::unique_ptr<TDkD82Writer> FromBytes(WritableBytes bytes);
  std::string FormatName() const override { return "D82"; }
  std::string DriveName() const override { return "8250"; }

 private:
  using TDkIeeeWriter::TDkIeeeWriter;
};

}  // namespace kelvane
