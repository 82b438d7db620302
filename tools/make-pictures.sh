#!/bin/sh
# Re-makes the README's pictures from the sources: docs/preview.png, the preview pane showing
# samples/dirart.d64 as kelvane-view draws it through the DLL under Wine, and docs/thumbnails.png,
# a row of Explorer's extra-large (256-pixel) thumbnails as `kelvane thumbnail` makes them (the
# DLL draws the same pixels) of the two samples and a D81 made by cc1541.
# Usage: tools/make-pictures.sh MINGW_BUILD_DIR NATIVE_BUILD_DIR
set -eu
if [ -z "${KELVANE_UNDER_XVFB:-}" ]; then
  KELVANE_UNDER_XVFB=1 exec xvfb-run -a "$0" "$@"
fi
mingw=$(cd "$1" && pwd)
native=$(cd "$2" && pwd)
here=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/kelvane-pictures.XXXXXX")
WINEPREFIX="$work/prefix"
export WINEPREFIX
trap '/usr/lib/wine/wineserver -k >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
win() { printf 'Z:%s' "$(echo "$1" | tr / '\\')"; }

"$here/cmake/wine-run.sh" wineboot -i </dev/null >/dev/null 2>&1 || true
"$here/cmake/wine-run.sh" "$mingw/src/kelvane-view.exe" \
  "$(win "$here/samples/dirart.d64")" --size 560x208 --shot "$(win "$work/preview.bmp")" </dev/null
convert "$work/preview.bmp" -strip "$here/docs/preview.png"

LC_ALL=C awk 'BEGIN { for (i = 0; i < 9000; i++) printf "%c", (i * 11 + 5) % 256 }' >"$work/big.prg"
LC_ALL=C awk 'BEGIN { for (i = 0; i < 2000; i++) printf "%c", (i * 7 + 3) % 256 }' >"$work/small.prg"
cc1541 -q -n "utilities" -i "u1 3d" -f "monitor" -w "$work/big.prg" -f "assembler" -w "$work/big.prg" \
  -f "disk doctor" -w "$work/small.prg" -f "sprite editor" -w "$work/small.prg" \
  -f "notes" -T SEQ -w "$work/small.prg" -f "font" -T USR -w "$work/small.prg" "$work/tools.d81"
set --
for image in "$here/samples/dirart.d64" "$here/samples/demo.d64" "$work/tools.d81"; do
  out="$work/$(basename "$image").png"
  "$native/src/cli/kelvane" thumbnail -s 256 "$image" "$out"
  set -- "$@" "$out"
done
convert "$@" -background none -gravity center -extent 272x256 +append -strip "$here/docs/thumbnails.png"
echo "Made $here/docs/preview.png and $here/docs/thumbnails.png"
