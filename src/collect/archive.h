#pragma once

// Images kept inside archives (zip, 7z, tar, rar) and compressed files (.gz, .bz2, .xz, .zst).
// Members are read one at a time and never past a size limit, so a bomb or an oversized member
// costs at most the limit; nothing is ever written into an archive.

#include <cstddef>
#include <functional>
#include <string>

#include "common/bytes.h"

namespace kelvane {

struct TDkArchiveMember {
  std::string Name;        // the path inside the archive; for a compressed file, its own name
                           // without the compression's extension
  ByteView Bytes;          // valid during the visit only; empty when Error is set
  std::string Error;       // why the member was not read: too large, encrypted, damaged
  bool WholeFile = false;  // a compressed file holding one stream, not an archive of members
};

// Called for every regular member in the archive's order; returning false stops the walk.
using TDkArchiveVisitor = std::function<bool(const TDkArchiveMember& member)>;

// The signature of an archive or compressed file at the start of `first_bytes` (512 bytes are
// enough for every kind, tar's included).
bool DkLooksLikeArchive(ByteView first_bytes);
// .zip .7z .tar .tgz .rar .gz .bz2 .xz .zst, ignoring case.
bool DkHasArchiveExtension(const std::string& file_name);

// Walks the members of the archive in `bytes` (or in the file at `path`); `name` is the archive's
// path, which names a compressed file's one member and the archive in messages. Members larger
// than `limit` bytes are visited with an Error and never inflated beyond it. Throws Exception
// naming the archive when it cannot be read at all or breaks off (members visited before stay
// visited), and in a build without libarchive (the Windows one), saying so.
void DkReadArchiveFile(const std::string& path, std::size_t limit, const TDkArchiveVisitor& visit);
void DkReadArchiveBytes(ByteView bytes, const std::string& name, std::size_t limit,
                        const TDkArchiveVisitor& visit);

}  // namespace kelvane
