// G64 parsing, GCR decoding and NIB conversion. The fast decoder is checked against the simple
// bit-by-bit model on real tracks written by cc1541 and on many built, random and mutated ones.
#include "formats/gcr.h"

#include <gtest/gtest.h>

#include <random>

#include "registry/registry.h"
#include "support/disk_builder.h"
#include "support/gcr_builder.h"
#include "support/messages.h"

namespace kelvane {
namespace {

using namespace testing;

void ExpectSameDecode(ByteView bytes, int start, int length, int track, const std::string& what) {
  const TDkG64TrackDecode fast = DkGcrDecodeTrack(bytes, start, length, track);
  const TDkG64TrackDecode simple = ReferenceDecodeTrack(bytes, start, length, track);
  ASSERT_EQ(fast.Found, simple.Found) << what;
  ASSERT_EQ(fast.Sectors, simple.Sectors) << what;
}

// --- Real data --------------------------------------------------------------------------------

TEST(G64, Cc1541G64DecodesToItsD64) {
  const Bytes g64 = ReadTestFile("tests/data/cc1541.g64");
  const TDkGcrConversion converted = DkGcrImageToD64(g64, ".G64");
  EXPECT_EQ(converted.BadSectorCount, 0);
  EXPECT_EQ(converted.ImageBytes, ReadTestFile("tests/data/cc1541.d64"));
  // And every track of the real file decodes alike in both decoders.
  const TDkG64Image image = TDkG64Image::Parse(g64);
  EXPECT_EQ(image.Signature(), "GCR-1541");
  for (const TDkG64Track& track : image.Tracks()) {
    if (track.DataOffset == 0) continue;
    ExpectSameDecode(g64, track.DataOffset + 2, track.Length, track.SlotIndex / 2 + 1, track.Label);
  }
}

// --- Parsing ----------------------------------------------------------------------------------

TEST(G64, ParseMessages) {
  Bytes header = BuildG64({}, 0);
  EXPECT_EQ(MessageOf([&] { TDkG64Image::Parse(Bytes(header.begin(), header.begin() + 11)); }),
            "Truncated G64 image: 11 bytes, header alone is 12.");
  Bytes bad = header;
  bad[8] = 2;
  EXPECT_EQ(MessageOf([&] { TDkG64Image::Parse(bad); }), "Unsupported G64 version 2.");
  bad = header;
  bad[4] = '9';
  EXPECT_EQ(MessageOf([&] { TDkG64Image::Parse(bad); }),
            "Unrecognised G64 signature 'GCR-9541'. Expected 'GCR-1541' or 'GCR-1571'.");
  bad = header;
  bad[9] = 1;
  EXPECT_EQ(MessageOf([&] { TDkG64Image::Parse(bad); }),
            "G64 truncated: track + speed tables would run past end of file.");

  std::vector<Bytes> tracks(2);
  tracks[1] = Bytes(100, 0x55);
  Bytes file = BuildG64(tracks, 2);  // the record of slot 0 starts at 28
  Bytes wrong = file;
  wrong[10] = 99;  // max below the declared 100, though the data would fit
  EXPECT_EQ(MessageOf([&] { TDkG64Image::Parse(wrong); }),
            "G64 track 0: declared length 100 exceeds max 99.");
  wrong = file;
  wrong[12] = 0xF0;
  EXPECT_EQ(MessageOf([&] { TDkG64Image::Parse(wrong); }),
            "G64 track 0 offset f0 out of range (file is 130 bytes).");
  wrong = file;
  wrong.pop_back();
  EXPECT_EQ(MessageOf([&] { TDkG64Image::Parse(wrong); }),
            "G64 track 0: data runs past end of file.");

  wrong = file;
  wrong[20] = 7;  // speed of slot 0: kept as -1, no error
  const TDkG64Image parsed = TDkG64Image::Parse(wrong);
  ASSERT_EQ(parsed.Tracks().size(), 2u);
  EXPECT_EQ(parsed.Tracks()[0].Speed, -1);
  EXPECT_EQ(parsed.Tracks()[0].Length, 100);
  EXPECT_EQ(parsed.Tracks()[1].Label, "1.5");
  EXPECT_EQ(parsed.Tracks()[1].DataOffset, 0);
}

TEST(G64, EmptyHeaderGivesThirtyFiveBadTracks) {
  const TDkGcrConversion converted = DkG64ToD64(BuildG64({}, 0));
  EXPECT_EQ(converted.ImageBytes, Bytes(174848, 0));
  EXPECT_EQ(converted.BadSectorCount, 683);
}

TEST(G64, Gcr1571DecodesTheFirstSide) {
  const Bytes d64 = BlankD64();
  const TDkGcrConversion converted = DkG64ToD64(BuildG64(GcrTracksOf(d64, 35), 84, "GCR-1571"));
  EXPECT_EQ(converted.BadSectorCount, 0);
  EXPECT_EQ(converted.ImageBytes, d64);
}

// A G71 holds both sides; side two's sector headers carry the D71's track numbers 36-70.
TEST(G71, BothSidesDecodeToTheD71AndMissingSectorsAreNamedByTheirD71Track) {
  const Bytes d71 = ReadTestFile("tests/data/cc1541.d71");
  const TDkG64Sectors whole = DkG64DecodeSectors(TDkG64Image::Parse(BuildG71(d71)));
  EXPECT_TRUE(whole.DoubleSided);
  EXPECT_EQ(whole.TrackCount, 70);
  EXPECT_TRUE(whole.BadSectors.empty());
  EXPECT_EQ(whole.ImageBytes, d71);

  // One sector gone on each side (and the last of side two): reported alike, zero in the D71.
  const std::vector<TDkG64BadSector> missing = {{3, 7}, {36, 0}, {53, 5}, {70, 16}};
  const TDkGcrConversion damaged = DkG64ToD64(BuildG71(d71, missing));
  EXPECT_TRUE(damaged.DoubleSided);
  EXPECT_EQ(damaged.BadSectorCount, 4);
  EXPECT_EQ(DkG64DecodeSectors(TDkG64Image::Parse(BuildG71(d71, missing))).BadSectors, missing);
  Bytes expected = d71;
  for (const TDkG64BadSector& bad : missing) {
    std::fill_n(expected.begin() + D71Offset(bad.Track, bad.Sector), 256, 0);
  }
  EXPECT_EQ(damaged.ImageBytes, expected);
  EXPECT_STREQ(DkGcrDecodedExtension(damaged.DoubleSided), ".d71");
}

TEST(G64, TracksBeyond35KeptUpToTheLastReadableOne) {
  const Bytes d64 = BlankD64(40, false, ddvSpeedDOS40);
  std::vector<Bytes> tracks = GcrTracksOf(d64, 40);
  for (int t = 36; t <= 39; ++t) tracks[static_cast<std::size_t>(t)].clear();
  const TDkG64Sectors sectors = DkG64DecodeSectors(TDkG64Image::Parse(BuildG64(tracks)));
  EXPECT_EQ(sectors.TrackCount, 40);
  EXPECT_EQ(sectors.ImageBytes.size(), 196608u);
  EXPECT_EQ(sectors.BadSectors.size(), 4u * 17u);
  EXPECT_EQ(sectors.BadSectors.front(), (TDkG64BadSector{36, 0}));
  EXPECT_EQ(sectors.BadSectors.back(), (TDkG64BadSector{39, 16}));
}

// --- Decoding edge cases ------------------------------------------------------------------------

TEST(GcrDecode, SectorNeedsItsOwnHeaderAndAGoodDataBlock) {
  const Bytes data = PatternBytes(256, 9);
  Bytes one = GcrSector(5, 3, data);
  // Exactly one sync: the header may decode, but no data block can follow.
  Bytes single(one.begin(), one.begin() + 5 + 10 + 9);
  single.resize(400, 0x55);
  EXPECT_EQ(DkGcrDecodeTrack(single, 0, static_cast<int>(single.size()), 5).Found[3], 0);

  // A header whose next sync holds another header stays bad; the second sector is good.
  Bytes two(one.begin(), one.begin() + 5 + 10 + 9);
  const Bytes next = GcrSector(5, 4, data);
  two.insert(two.end(), next.begin(), next.end());
  TDkG64TrackDecode decoded = DkGcrDecodeTrack(two, 0, static_cast<int>(two.size()), 5);
  EXPECT_EQ(decoded.Found[3], 0);
  EXPECT_EQ(decoded.Found[4], 1);
  ExpectSameDecode(two, 0, static_cast<int>(two.size()), 5, "header then header");

  // The wrong track number, a bad checksum: not found.
  EXPECT_EQ(DkGcrDecodeTrack(one, 0, static_cast<int>(one.size()), 6).Found[3], 0);
  Bytes corrupt = one;
  corrupt[5 + 10 + 9 + 5 + 100] ^= 0x21;
  ExpectSameDecode(corrupt, 0, static_cast<int>(corrupt.size()), 5, "corrupt data");

  // A header numbered past the track's last sector (20 on track 5) is no sector.
  const Bytes past = GcrSector(5, 21, data);
  const auto found = DkGcrDecodeTrack(past, 0, static_cast<int>(past.size()), 5).Found;
  EXPECT_EQ(std::count(found.begin(), found.end(), 1), 0);
}

// A track whose content is rotated by any number of bits (so syncs sit at every bit phase and
// wrap over the end) decodes alike in both decoders and finds every sector.
TEST(GcrDecode, DifferentialOverEveryBitRotation) {
  const Bytes d64 = BlankD64();
  Bytes track = GcrTrack(1, PatternBytes(174848, 3), 7000);
  for (int shift = 0; shift < 64; ++shift) {
    // Rotate the bit stream left by `shift` bits.
    const int bits = static_cast<int>(track.size()) * 8;
    Bytes rotated(track.size(), 0);
    for (int k = 0; k < bits; ++k) {
      const int from = (k + shift * 37) % bits;
      if ((track[static_cast<std::size_t>(from / 8)] >> (7 - from % 8)) & 1) {
        rotated[static_cast<std::size_t>(k / 8)] |= static_cast<std::uint8_t>(0x80 >> (k % 8));
      }
    }
    const TDkG64TrackDecode fast =
        DkGcrDecodeTrack(rotated, 0, static_cast<int>(rotated.size()), 1);
    EXPECT_EQ(std::count(fast.Found.begin(), fast.Found.end(), 1), 21) << shift;
    ExpectSameDecode(rotated, 0, static_cast<int>(rotated.size()), 1,
                     "rotation " + std::to_string(shift));
  }
}

TEST(GcrDecode, DifferentialOnRandomAndMutatedTracks) {
  std::mt19937 rng(20261206);
  const Bytes base = GcrTrack(18, PatternBytes(174848, 5), 7200);
  for (int round = 0; round < 3000; ++round) {
    Bytes track;
    const int kind = round % 4;
    if (kind == 0) {
      // Random bytes, heavy in $FF so that syncs appear.
      track.resize(1 + rng() % 900);
      for (auto& b : track) b = (rng() % 3 == 0) ? 0xFF : static_cast<std::uint8_t>(rng());
    } else {
      // The real track with a few bit flips, byte changes or a cut.
      track = base;
      const int edits = 1 + static_cast<int>(rng() % 8);
      for (int e = 0; e < edits; ++e) {
        const std::size_t at = rng() % track.size();
        if (kind == 1) track[at] ^= static_cast<std::uint8_t>(1u << (rng() % 8));
        if (kind == 2) track[at] = static_cast<std::uint8_t>(rng());
      }
      if (kind == 3) track.resize(1 + rng() % track.size());
    }
    ExpectSameDecode(track, 0, static_cast<int>(track.size()), 18,
                     "round " + std::to_string(round));
    if (::testing::Test::HasFatalFailure()) return;
  }
}

// --- NIB ----------------------------------------------------------------------------------------

// A NIB track as a drive reader captures it: noise, then the revolution repeated.
Bytes NibTrack(const Bytes& revolution, std::mt19937& rng) {
  Bytes data;
  for (int i = 0; i < 37; ++i) data.push_back(static_cast<std::uint8_t>(rng() & 0x7C));
  while (data.size() < 8192) data.insert(data.end(), revolution.begin(), revolution.end());
  data.resize(8192);
  return data;
}

TEST(Nib, RoundTripsThroughG64) {
  std::mt19937 rng(7);
  const Bytes d64 = [] {
    Bytes bytes = BlankD64();
    SectorEditor editor(bytes, D64Offset);
    editor.WriteFile({{1, 0}, {1, 10}, {2, 0}}, PatternBytes(700, 2));
    editor.PutEntry(18, 1, 0, {"NIBBLED", 0x82, 1, 0, 3});
    return bytes;
  }();
  std::vector<std::pair<int, int>> entries;
  std::vector<Bytes> data;
  for (int t = 1; t <= 35; ++t) {
    const int zone = t <= 17 ? 3 : t <= 24 ? 2 : t <= 30 ? 1 : 0;
    static const int kCapacity[4] = {6250, 6666, 7142, 7692};
    entries.emplace_back(2 * t, zone);
    data.push_back(NibTrack(GcrTrack(t, d64, kCapacity[zone] - 10), rng));
  }
  const Bytes nib = BuildNib(entries, data);
  const TDkGcrConversion converted = DkGcrImageToD64(nib, "disk.NIB");
  EXPECT_EQ(converted.BadSectorCount, 0);
  EXPECT_EQ(converted.ImageBytes, d64);

  const TDkG64Image g64 = TDkG64Image::Parse(DkNibToG64(nib));
  EXPECT_EQ(g64.TrackSlotCount(), 84);
  EXPECT_EQ(g64.Tracks()[0].Speed, 3);
  EXPECT_EQ(g64.Tracks()[0].Length, 7692 - 10);
  EXPECT_EQ(g64.Tracks()[1].DataOffset, 0);
  EXPECT_EQ(g64.Tracks()[68].Speed, 0);
  // The tracks follow the header and its two tables of 84 entries, each after the one before.
  EXPECT_EQ(g64.Tracks()[0].DataOffset, 12 + 8 * 84);
  EXPECT_EQ(g64.Tracks()[2].DataOffset, 12 + 8 * 84 + 2 + 7692 - 10);
}

TEST(Nib, TableEdgesAndTracksWithoutARevolution) {
  std::mt19937 rng(1);
  Bytes noise(8192);
  for (auto& b : noise) b = static_cast<std::uint8_t>(rng() & 0x7C);  // no syncs at all
  // Half-tracks 1 and 86 fall outside the 84 slots and are skipped.
  const Bytes nib = BuildNib({{1, 0}, {2, 1}, {86, 0}}, {noise, noise, noise});
  const TDkG64Image g64 = TDkG64Image::Parse(DkNibToG64(nib));
  EXPECT_EQ(g64.Tracks()[0].Length, 6666);  // cut to zone 1's capacity from its first byte
  int present = 0;
  for (const auto& track : g64.Tracks()) present += track.DataOffset != 0;
  EXPECT_EQ(present, 1);
}

// A sync is a byte ending in two set bits followed by $FF bytes; the search stops after the last
// of them, or at the end it is given.
TEST(Nib, SyncSearch) {
  const Bytes data = {0x03, 0x10, 0x00, 0x57, 0xFF, 0xFF, 0x52, 0x03, 0xFF, 0x10, 0x00, 0x00};
  int position = 0;
  EXPECT_TRUE(DkNibNextSync(data, position, 10));
  EXPECT_EQ(position, 6);
  EXPECT_TRUE(DkNibNextSync(data, position, 10));
  EXPECT_EQ(position, 9);
  EXPECT_FALSE(DkNibNextSync(data, position, 10));
  EXPECT_EQ(position, 10);
}

TEST(Nib, Messages) {
  EXPECT_EQ(MessageOf([] { DkNibToG64(Bytes(255)); }),
            "Truncated NIB image: 255 bytes, the header alone is 256.");
  EXPECT_EQ(MessageOf([] { DkNibToG64(Bytes(256)); }),
            "Not a NIB image: it does not start with 'MNIB-1541-RAW'.");
  EXPECT_EQ(MessageOf([] { DkNibToG64(BuildNib({}, {})); }), "This NIB image lists no tracks.");
  EXPECT_EQ(MessageOf([] {
              DkNibToG64(BuildNib({{2, 0}, {4, 0}}, {Bytes(8192)}));
            }),
            "Truncated NIB image: its track table lists 2 tracks, the file holds 1.");
}

}  // namespace
}  // namespace kelvane
