#!/bin/sh
# Times the preview DLL under Wine (a fresh prefix inside one X server).
# Usage: tools/bench-windows.sh MINGW_BUILD_DIR
set -eu
if [ -z "${KELVANE_UNDER_XVFB:-}" ]; then
  KELVANE_UNDER_XVFB=1 exec xvfb-run -a "$0" "$@"
fi
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")/.." && pwd)
WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/kelvane-wine.XXXXXX")
export WINEPREFIX
wineserver=/usr/lib/wine/wineserver
[ -x "$wineserver" ] || wineserver=wineserver
trap '"$wineserver" -k >/dev/null 2>&1 || true; rm -rf "$WINEPREFIX"' EXIT INT TERM
"$here/cmake/wine-run.sh" wineboot -i </dev/null >/dev/null 2>&1 || true
"$wineserver" -p </dev/null >/dev/null 2>&1 &
"$here/cmake/wine-run.sh" "$build/bench/win32/preview_timing.exe" "Z:$build/src/kelvane_preview.dll" \
  "${RUNS:-300}" </dev/null | tr -d '\r'
