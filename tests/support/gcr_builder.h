#pragma once

// Test-side GCR: an encoder that writes sectors the way a 1541 formats a track, a G64 and NIB
// file builder, and the simple bit-by-bit decoder that the fast one must agree with.

#include <vector>

#include "formats/gcr.h"

namespace kelvane::testing {

// Four bytes to five GCR bytes, repeatedly; `bytes` must be a multiple of 4 long.
Bytes GcrEncode(ByteView bytes);

// One sector as on the track: sync, header block, gap, sync, data block, gap.
Bytes GcrSector(int track, int sector, ByteView data, std::uint8_t id1 = '1',
                std::uint8_t id2 = '2');

// A whole track of D64 sector data (sector-interleaved as stored), padded with $55 gap bytes to
// `length` when it is shorter.
Bytes GcrTrack(int track, ByteView d64, int length = 0);

// A G64 file with one record per full track of `tracks` (the track data from `gcr_tracks[t]`, an
// empty vector leaving the slot empty).
Bytes BuildG64(const std::vector<Bytes>& gcr_tracks, int slots = 84,
               const char* signature = "GCR-1541");

// A D64's tracks encoded as GCR (index = track number, 0 unused).
std::vector<Bytes> GcrTracksOf(ByteView d64, int tracks);

// A G71 of a D71: side one's 35 tracks in slots 0-83, side two's (headers numbered 36-70, zones
// of tracks 1-35) in slots 84-167. The sectors in `missing` (D71 track, sector) are left out.
Bytes BuildG71(ByteView d71, const std::vector<TDkG64BadSector>& missing = {});

// A NIB file whose k-th entry is (half-track, density) with `data` (8192 bytes each).
Bytes BuildNib(const std::vector<std::pair<int, int>>& entries, const std::vector<Bytes>& data);

// The decoder as the format describes it: a circular bit stream read one bit at a time, the
// syncs found in two passes, every 10-bit group decoded through the 5-bit table.
TDkG64TrackDecode ReferenceDecodeTrack(ByteView bytes, int start, int length, int track);

}  // namespace kelvane::testing
