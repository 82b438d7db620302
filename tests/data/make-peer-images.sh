#!/bin/sh
# Rebuilds the peer-made test images in this folder from the inputs in inputs/.
# Needs Debian's cc1541 (4.0) and cbmconvert (2.1.5). Each image gets a listing by cc1541 beside
# it (IMAGE.cc1541.txt), taken from a copy because cc1541 rewrites the image it lists.
set -eu
cd "$(dirname "$0")"
export LC_ALL=C

# Deterministic input files: N bytes of a simple pattern.
pattern() { awk -v n="$1" -v s="$2" 'BEGIN { for (i = 0; i < n; i++) printf "%c", (i * 7 + s) % 256 }'; }
mkdir -p inputs
pattern 1000 1 > inputs/hello.prg
pattern 254 2 > inputs/tiny.prg
pattern 5000 3 > inputs/data.seq
pattern 1 4 > inputs/one.usr
pattern 255 5 > inputs/edge.prg
pattern 40000 6 > inputs/big.prg
pattern 0 7 > inputs/empty.prg
pattern 253 8 > inputs/short.prg
pattern 508 9 > inputs/two.prg

# cc1541 tells the format by the extension, so the copy keeps the name (in a folder of its own);
# its escape sequences for reverse video are dropped.
listing() {
  mkdir -p list.tmp
  cp "$1" "list.tmp/$1"
  cc1541 "list.tmp/$1" | sed -e 's/\x1b\[[0-9]*m//g' > "$1.cc1541.txt"
  rm -rf list.tmp
}

rm -f cc1541.d64 cc1541.d71 cc1541.d81 cc1541.g64 cc1541-full.d64 dirart.d64 cbmconvert.d64 cbmconvert.d71 cbmconvert.d81 cbmconvert.lnx cbmconvert.p00 cbmconvert.s00 cbmconvert.u00

# Several files of every type cc1541 writes, odd names, a locked and an unclosed file, a file
# across many tracks; the G64 holds the same disk as the D64.
for image in cc1541.d64 cc1541.d71 cc1541.d81; do
  g64=""
  [ "$image" = cc1541.d64 ] && g64="-g cc1541.g64"
  # shellcheck disable=SC2086
  cc1541 -q -m -n "PEER DISK" -i "PD 2A" $g64 \
    -f "HELLO" -w inputs/hello.prg \
    -f "ODD NAME!" -T SEQ -w inputs/data.seq \
    -f "LOCKED" -P -w inputs/tiny.prg \
    -f "X" -T USR -w inputs/one.usr \
    -f "SPLAT" -O -w inputs/tiny.prg \
    -f "lower name" -w inputs/edge.prg \
    -f "SHIFT#a0HIDDEN" -w inputs/tiny.prg \
    -f "DEL FILE" -T DEL -w inputs/one.usr \
    -f "BIG" -w inputs/big.prg \
    "$image"
  listing "$image"
done

# A full directory track: 144 entries in the 18 directory sectors of track 18.
args=""
i=0
while [ $i -lt 144 ]; do args="$args -f FILE$i -w inputs/one.usr"; i=$((i + 1)); done
# shellcheck disable=SC2086
cc1541 -q -m -n "FULL DIRECTORY" -i "FD 2A" $args cc1541-full.d64
listing cc1541-full.d64

# Directory art: three entries whose names (PETSCII line and box graphics, given as #XX) draw two
# boxes over three rows; the listing renderer's test checks that their strokes join.
cc1541 -q -n "directory art" -i "da 2a" \
  -f "#b0#c0#c0#b2#c3#c3#ae#d5#c0#c0#c9 #cf#b7#b7#d0" -w inputs/one.usr \
  -f "#ab#c0#c0#db#c0#c0#b3#c2  #dd #a5  #a7" -w inputs/one.usr \
  -f "#ad#c0#c0#b1#c0#c0#bd#ca#c0#c0#cb #cc#af#af#ba" -w inputs/one.usr \
  dirart.d64
listing dirart.d64

# cbmconvert takes CBM names and types from the host names.
mkdir -p cv.tmp
cp inputs/hello.prg cv.tmp/hello.prg
cp inputs/data.seq "cv.tmp/some data.seq"
cp inputs/one.usr cv.tmp/one.usr
cp inputs/big.prg cv.tmp/big.prg
for pair in D4:cbmconvert.d64 D7:cbmconvert.d71 D8:cbmconvert.d81; do
  (cd cv.tmp && cbmconvert -v0 -n "-${pair%%:*}" "../${pair#*:}" hello.prg "some data.seq" one.usr big.prg)
  listing "${pair#*:}"
done
# PC64 files: cbmconvert names them after the host names (hello.p00, somedata.s00, one.u00).
(cd cv.tmp && cbmconvert -v0 -n -P hello.prg "some data.seq" one.usr)
mv cv.tmp/hello.p00 cbmconvert.p00
mv cv.tmp/somedata.s00 cbmconvert.s00
mv cv.tmp/one.u00 cbmconvert.u00
rm -rf cv.tmp

# A Lynx archive of files whose sizes sit on the 254-byte block edges (0, 1, 253, 254, 255, 508)
# and larger ones, of three types.
mkdir -p lnx.tmp
for f in empty.prg one.usr short.prg tiny.prg edge.prg two.prg hello.prg data.seq big.prg; do
  cp "inputs/$f" "lnx.tmp/$f"
done
(cd lnx.tmp && cbmconvert -v0 -n -L ../cbmconvert.lnx empty.prg one.usr short.prg tiny.prg edge.prg \
  two.prg hello.prg data.seq big.prg)
rm -rf lnx.tmp
