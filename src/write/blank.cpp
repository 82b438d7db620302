#include "write/blank.h"

#include <algorithm>
#include <cstring>

#include "common/format.h"
#include "formats/cmd.h"
#include "formats/d64.h"
#include "formats/d71_d81.h"
#include "formats/d80_d82.h"
#include "formats/dnp_dfi.h"
#include "write/names.h"
#include "write/writer_base.h"

namespace kelvane {

namespace {

using OffsetOf = int (*)(int track, int sector);

WritableBytes SectorAt(Bytes& bytes, int offset) {
  return WritableBytes(bytes).subspan(static_cast<std::size_t>(offset), kSectorSize);
}

// Bitmap bits for `sectors` free sectors, sector 0 in bit 0.
void FreeBits(WritableBytes bitmap, int sectors) {
  std::fill(bitmap.begin(), bitmap.end(), 0);
  for (int s = 0; s < sectors; ++s)
    bitmap[static_cast<std::size_t>(s / 8)] |= static_cast<std::uint8_t>(1 << (s % 8));
}

void UseBit(WritableBytes bitmap, int sector) {
  bitmap[static_cast<std::size_t>(sector / 8)] &= static_cast<std::uint8_t>(~(1 << (sector % 8)));
}

// A 1541-style BAM entry: free count, then the bitmap bytes.
void PutBamEntry(WritableBytes entry, int sectors, std::initializer_list<int> used) {
  FreeBits(entry.subspan(1), sectors);
  for (const int s : used) UseBit(entry.subspan(1), s);
  entry[0] = static_cast<std::uint8_t>(sectors - static_cast<int>(used.size()));
}

// Name, two $A0, id, $A0, DOS type at `name_offset`: the header block every drive writes, its
// $A0 fill running from the name to `fill_end`.
void PutHeader(WritableBytes sector, int name_offset, int fill_end, const TDkNewDisk& request,
               const char* dos_type) {
  const auto at = [&](int offset) { return sector.begin() + offset; };
  std::fill(at(name_offset), at(fill_end), 0xA0);
  std::copy(request.Name.begin(), request.Name.end(), at(name_offset));
  std::copy(request.Id.begin(), request.Id.end(), at(name_offset + 18));
  sector[static_cast<std::size_t>(name_offset + 21)] = static_cast<std::uint8_t>(dos_type[0]);
  sector[static_cast<std::size_t>(name_offset + 22)] = static_cast<std::uint8_t>(dos_type[1]);
}

void EndDirectory(WritableBytes sector) {
  sector[0] = 0;
  sector[1] = 0xFF;
}

Bytes ZonedBytes(const TDkZoneGeometry& geometry, int tracks) {
  return Bytes(static_cast<std::size_t>(geometry.SectorCount(tracks)) * kSectorSize, 0);
}

Bytes BlankD64(const TDkNewDisk& request) {
  const TDkZoneGeometry& geometry = DkD64Geometry();
  Bytes bytes = ZonedBytes(geometry, request.Tracks);
  const auto sector = [&](int t, int s) { return SectorAt(bytes, geometry.SectorOffset(t, s)); };
  WritableBytes bam = sector(18, 0);
  bam[0] = 18;
  bam[1] = 1;
  bam[2] = 0x41;
  for (int t = 1; t <= 35; ++t) {
    PutBamEntry(bam.subspan(static_cast<std::size_t>(4 * t), 4), geometry.SectorsInTrack(t),
                t == 18 ? std::initializer_list<int>{0, 1} : std::initializer_list<int>{});
  }
  PutHeader(bam, 0x90, 0xAB, request, "2A");
  // Tracks 36 and up in the BAM's spare bytes from $C0, where SpeedDOS and the 42-track DOS
  // extensions keep them.
  for (int t = 36; t <= request.Tracks; ++t) {
    PutBamEntry(bam.subspan(static_cast<std::size_t>(0xC0 + 4 * (t - 36)), 4),
                geometry.SectorsInTrack(t), {});
  }
  EndDirectory(sector(18, 1));
  return bytes;
}

Bytes BlankD71(const TDkNewDisk& request) {
  const TDkZoneGeometry& geometry = DkD71Geometry();
  Bytes bytes = ZonedBytes(geometry, kD71Tracks);
  const auto sector = [&](int t, int s) { return SectorAt(bytes, geometry.SectorOffset(t, s)); };
  WritableBytes bam = sector(18, 0);
  bam[0] = 18;
  bam[1] = 1;
  bam[2] = 0x41;
  bam[3] = 0x80;  // double-sided
  for (int t = 1; t <= 35; ++t) {
    PutBamEntry(bam.subspan(static_cast<std::size_t>(4 * t), 4), geometry.SectorsInTrack(t),
                t == 18 ? std::initializer_list<int>{0, 1} : std::initializer_list<int>{});
  }
  PutHeader(bam, 0x90, 0xAB, request, "2A");
  // The second side: free counts at $DD, bitmaps in 53/0; track 53 stays allocated whole.
  WritableBytes bam2 = sector(53, 0);
  for (int t = 36; t <= kD71Tracks; ++t) {
    const int n = t == 53 ? 0 : geometry.SectorsInTrack(t);
    bam[static_cast<std::size_t>(0xDD + t - 36)] = static_cast<std::uint8_t>(n);
    FreeBits(bam2.subspan(static_cast<std::size_t>(3 * (t - 36)), 3), n);
  }
  EndDirectory(sector(18, 1));
  return bytes;
}

Bytes BlankD81(const TDkNewDisk& request) {
  Bytes bytes(static_cast<std::size_t>(kD81Tracks) * kD81SectorsPerTrack * kSectorSize, 0);
  const auto sector = [&](int t, int s) {
    return SectorAt(bytes, ((t - 1) * kD81SectorsPerTrack + s) * kSectorSize);
  };
  WritableBytes header = sector(40, 0);
  header[0] = 40;
  header[1] = 3;
  header[2] = 0x44;
  PutHeader(header, 4, 0x1D, request, "3D");
  for (int side = 0; side < 2; ++side) {
    WritableBytes bam = sector(40, 1 + side);
    bam[0] = side == 0 ? 40 : 0;
    bam[1] = side == 0 ? 2 : 0xFF;
    bam[2] = 0x44;
    bam[3] = 0xBB;  // 'D' inverted
    bam[4] = request.Id[0];
    bam[5] = request.Id[1];
    bam[6] = 0xC0;  // verify on, check header CRC
    for (int i = 0; i < 40; ++i) {
      const int track = side * 40 + i + 1;
      PutBamEntry(
          bam.subspan(static_cast<std::size_t>(16 + 6 * i), 6), kD81SectorsPerTrack,
          track == 40 ? std::initializer_list<int>{0, 1, 2, 3} : std::initializer_list<int>{});
    }
  }
  EndDirectory(sector(40, 3));
  return bytes;
}

// 8050 and 8250: header 39/0, BAM sectors from 38/0 every third sector, 50 tracks each.
Bytes BlankIeee(const TDkNewDisk& request, const TDkZoneGeometry& geometry) {
  const int tracks = geometry.Tracks();
  Bytes bytes = ZonedBytes(geometry, tracks);
  const auto sector = [&](int t, int s) { return SectorAt(bytes, geometry.SectorOffset(t, s)); };
  WritableBytes header = sector(39, 0);
  header[0] = 38;
  header[1] = 0;
  header[2] = 0x43;
  PutHeader(header, 6, 0x1D, request, "2C");
  const int bam_sectors = (tracks + 49) / 50;
  for (int i = 0; i < bam_sectors; ++i) {
    WritableBytes bam = sector(38, 3 * i);
    const bool last = i + 1 == bam_sectors;
    bam[0] = static_cast<std::uint8_t>(last ? 39 : 38);
    bam[1] = static_cast<std::uint8_t>(last ? 1 : 3 * (i + 1));
    bam[2] = 0x43;
    bam[4] = static_cast<std::uint8_t>(1 + 50 * i);
    bam[5] = static_cast<std::uint8_t>(std::min(tracks + 1, 51 + 50 * i));
    for (int k = 0; k < 50 && 50 * i + k < tracks; ++k) {
      const int track = 50 * i + k + 1;
      WritableBytes entry = bam.subspan(static_cast<std::size_t>(6 + 5 * k), 5);
      const int n = geometry.SectorsInTrack(track);
      if (track == 39) {
        PutBamEntry(entry, n, {0, 1});
      } else if (track == 38) {
        PutBamEntry(entry, n, {});
        for (int b = 0; b < bam_sectors; ++b) UseBit(entry.subspan(1), 3 * b);
        entry[0] = static_cast<std::uint8_t>(n - bam_sectors);
      } else {
        PutBamEntry(entry, n, {});
      }
    }
  }
  EndDirectory(sector(39, 1));
  return bytes;
}

// A CMD native partition: header 1/1, BAM 1/2-1/33 (bit set = free, sector 0 in the high bit),
// root directory 1/34; sectors 0-34 of track 1 in use. The bitmap marks all 255 tracks a
// partition could have, as the drive's format does.
void PutNative(WritableBytes part, int tracks, const TDkNewDisk& request) {
  const auto sector = [&](int t, int s) {
    return part.subspan(static_cast<std::size_t>((t - 1) * kDnpTrackBytes + s * kSectorSize),
                        kSectorSize);
  };
  WritableBytes header = sector(1, 1);
  header[0] = 1;
  header[1] = 34;
  header[2] = 0x48;
  PutHeader(header, 4, 0x1D, request, "1H");
  header[0x20] = 1;  // the header's own address: the current layout
  header[0x21] = 1;
  WritableBytes bam = sector(1, 2);
  bam[2] = 0x48;
  bam[3] = 0xB7;
  bam[4] = request.Id[0];
  bam[5] = request.Id[1];
  bam[6] = 0xC0;
  bam[8] = static_cast<std::uint8_t>(tracks);
  const WritableBytes bitmap = part.subspan(kSectorSize * 2 + 32, 255 * 32);
  std::fill(bitmap.begin(), bitmap.end(), 0xFF);
  std::fill(bitmap.begin(), bitmap.begin() + 4, 0);
  bitmap[4] = 0x1F;
  EndDirectory(sector(1, 34));
}

Bytes BlankDnp(const TDkNewDisk& request) {
  Bytes bytes(static_cast<std::size_t>(request.Tracks) * kDnpTrackBytes, 0);
  PutNative(bytes, request.Tracks, request);
  return bytes;
}

Bytes BlankDfi(const TDkNewDisk& request) {
  Bytes bytes(static_cast<std::size_t>(request.Tracks) * kDnpTrackBytes, 0);
  const char signature[] = "DREAMLOAD FILE ARCHIVE";
  std::memcpy(bytes.data() + 1, signature, sizeof signature - 1);
  WritableBytes header = SectorAt(bytes, kSectorSize);
  header[0] = 1;
  header[1] = 2;
  header[2] = 0x41;
  PutHeader(header, 0x90, 0xAB, request, "2A");
  // Used-sector bitmap at $1000 (track 1 sector 16): sectors 0-2 and the bitmap's own sector.
  for (const int s : {0, 1, 2, 16})
    bytes[0x1000 + static_cast<std::size_t>(s / 8)] |= static_cast<std::uint8_t>(1 << (s % 8));
  EndDirectory(SectorAt(bytes, 2 * kSectorSize));
  return bytes;
}

// An FD disk with one native partition over the whole user area, the default one, and the
// system area of a freshly formatted disk.
Bytes BlankCmd(const TDkNewDisk& request, const TDkCmdKind& kind) {
  Bytes bytes(static_cast<std::size_t>(kind.Blocks()) * kSectorSize, 0);
  const int tracks = kind.SystemUnit / kCmdNativeTrackUnits;
  PutNative(WritableBytes(bytes).first(static_cast<std::size_t>(tracks) * kDnpTrackBytes), tracks,
            request);

  const std::size_t system = static_cast<std::size_t>(kind.SystemUnit) * kCmdUnitBytes;
  WritableBytes config = SectorAt(bytes, static_cast<int>(system + 5 * kSectorSize));
  std::fill(config.begin(), config.begin() + 0xE0, 0xFF);
  for (const int zero : {0, 56, 57, 112, 168}) config[static_cast<std::size_t>(zero)] = 0;
  config[113] = static_cast<std::uint8_t>(kind.SystemUnit >> 8);  // the disk's units
  config[169] = static_cast<std::uint8_t>(kind.SystemUnit & 0xFF);
  config[0xE2] = 1;  // default partition
  config[0xE3] = 1;
  std::memcpy(config.data() + 0xF0, "CMD FD SERIES   ", 16);

  const auto entry = [&](int n) {
    return WritableBytes(bytes).subspan(system + 8 * kSectorSize + static_cast<std::size_t>(n) * 32,
                                        32);
  };
  for (int block = 0; block < 4; ++block) {
    WritableBytes link = entry(8 * block);
    link[0] = block < 3 ? 1 : 0;
    link[1] = block < 3 ? static_cast<std::uint8_t>(block + 1) : 0xFF;
  }
  const auto put = [&](int n, std::uint8_t type, const char* name, int units) {
    WritableBytes e = entry(n);
    e[2] = type;
    std::fill(e.begin() + 5, e.begin() + 21, 0xA0);
    std::memcpy(e.data() + 5, name, std::strlen(name));
    e[0x1D] = static_cast<std::uint8_t>(units >> 16);
    e[0x1E] = static_cast<std::uint8_t>(units >> 8);
    e[0x1F] = static_cast<std::uint8_t>(units);
  };
  put(0, cptSystem, "SYSTEM", 0);
  put(1, cptNative, "PARTITION 1", tracks * kCmdNativeTrackUnits);
  return bytes;
}

void CheckTracks(const TDkNewDisk& request, bool allowed, const char* expected) {
  if (!allowed) {
    throw EDkCbmConstraintViolation(Format("A %s cannot have %d tracks: %s.",
                                           DkImageFormatName(request.Format).c_str(),
                                           request.Tracks, expected));
  }
}

}  // namespace

void DkParseDiskName(const std::string& text, Bytes& name, Bytes& id) {
  const std::size_t comma = text.find(',');
  const std::string id_text = comma == std::string::npos ? std::string() : text.substr(comma + 1);
  // Checked as typed: a character the conversion would replace is refused, not changed.
  for (const char c : text) {
    const auto byte = static_cast<std::uint8_t>(c);
    if (byte != ',' && (byte < 0x20 || byte > 0x7E || DkCbmIsReservedNameByte(byte))) {
      throw EDkCbmConstraintViolation(
          Format("The disk name \"%s\" holds '%c', which a disk name cannot.", text.c_str(), c));
    }
  }
  const std::string name_text = text.substr(0, comma);
  if (name_text.empty() || name_text.size() > kDkCbmNameLength) {
    throw EDkCbmConstraintViolation(Format("A disk name has 1 to %d characters; \"%s\" has %d.",
                                           kDkCbmNameLength, name_text.c_str(),
                                           static_cast<int>(name_text.size())));
  }
  name = DkCbmValidateFileName(DkCbmHostNameToBytes(name_text));
  const Bytes id_bytes = DkCbmHostNameToBytes(id_text);
  if (id_bytes.size() != 2 ||
      std::any_of(id_bytes.begin(), id_bytes.end(), DkCbmIsReservedNameByte)) {
    throw EDkCbmConstraintViolation(
        Format("The disk id \"%s\" is not two characters a name may hold.", id_text.c_str()));
  }
  id = id_bytes;
}

Bytes DkBlankImage(const TDkNewDisk& request) {
  const bool flat_ok = request.Tracks >= 1 && request.Tracks <= 255;
  switch (request.Format) {
    case cifD64:
      CheckTracks(request, request.Tracks == 35 || request.Tracks == 40 || request.Tracks == 42,
                  "35, 40 or 42");
      return BlankD64(request);
    case cifD71:
      return BlankD71(request);
    case cifD81:
      return BlankD81(request);
    case cifD80:
      return BlankIeee(request, DkD80Geometry());
    case cifD82:
      return BlankIeee(request, DkD82Geometry());
    case cifDnp:
      CheckTracks(request, flat_ok, "1 to 255");
      return BlankDnp(request);
    case cifDfi:
      CheckTracks(request, flat_ok, "1 to 255");
      return BlankDfi(request);
    case cifD1M:
    case cifD2M:
    case cifD4M:
      return BlankCmd(request, DkCmdKindByName(DkImageFormatName(request.Format)));
    default:
      throw EDkCbmConstraintViolation(
          Format("No blank %s can be made; a new disk is one of D64, "
                 "D71, D81, D80, D82, DNP, DFI, D1M, D2M, D4M.",
                 DkImageFormatName(request.Format).c_str()));
  }
}

}  // namespace kelvane
