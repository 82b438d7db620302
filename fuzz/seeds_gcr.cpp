// Writes the hand-made starting inputs of the GCR, NIB and PC64 fuzz targets into
// fuzz/corpus/ (run from the source folder: build/debug/fuzz/fuzz_seeds).
#include <fstream>

#include "support/disk_builder.h"
#include "support/gcr_builder.h"
using namespace kelvane;
using namespace kelvane::testing;
static void Save(const std::string& p, const Bytes& b) {
  std::ofstream o(p, std::ios::binary);
  o.write((const char*)b.data(), (std::streamsize)b.size());
}
int main() {
  Bytes d64 = BlankD64();
  std::vector<Bytes> tracks(4);
  for (int t = 1; t <= 3; ++t) tracks[t] = GcrTrack(t, d64, 0);
  Save("fuzz/corpus/g64/seed_three_tracks", BuildG64(tracks, 6));
  Bytes one = {18};
  Bytes tr = GcrTrack(18, d64, 0);
  one.insert(one.end(), tr.begin(), tr.end());
  Save("fuzz/corpus/gcr_track/seed_track18", one);
  Bytes small = {5};
  Bytes s5 = GcrSector(5, 3, PatternBytes(256, 1));
  small.insert(small.end(), s5.begin(), s5.end());
  Save("fuzz/corpus/gcr_track/seed_one_sector", small);
  Bytes nib = {1, 2, 3};
  Bytes rev = GcrTrack(1, d64, 0);
  nib.insert(nib.end(), rev.begin(), rev.end());
  Save("fuzz/corpus/nib/seed_one_track", nib);
  Bytes pc = {0, 'C', '6', '4', 'F', 'i', 'l', 'e', 0, 'N', 'A', 'M', 'E'};
  pc.resize(27, 0);
  pc.push_back(1);
  pc.push_back(8);
  Save("fuzz/corpus/pc64/seed_prg", pc);
}
