#!/bin/sh
# Runs the cross-built Windows tests under Wine: a fresh prefix, booted with its output detached
# (Wine's helper processes would otherwise hold CTest's output pipes open and stall it), one
# persistent wineserver so each test starts quickly, and everything shut down afterwards.
# The whole step runs inside one X server (xvfb-run), which the preview's windows need. The
# preview's tests then run once more with the screen at 144 DPI.
# Usage: tools/run-windows-tests.sh BUILD_DIR [ctest arguments...]
set -eu
if [ -z "${KELVANE_UNDER_XVFB:-}" ]; then
  KELVANE_UNDER_XVFB=1 exec xvfb-run -a "$0" "$@"
fi
build_dir=$1
shift
WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/kelvane-wine.XXXXXX")
export WINEPREFIX
wineserver=/usr/lib/wine/wineserver
[ -x "$wineserver" ] || wineserver=wineserver
cleanup() {
  "$wineserver" -k >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX"
}
trap cleanup EXIT INT TERM

here=$(cd "$(dirname "$0")/.." && pwd)
# One persistent wineserver for the whole run: started while the boot's own server still runs,
# `wineserver -p` would find it and exit, and the boot's server would then quit whenever no test
# ran for a moment, resetting the connection of a test that started just then.
restart_server() {
  "$wineserver" -k >/dev/null 2>&1 || true
  "$wineserver" -w >/dev/null 2>&1 || true
  "$wineserver" -p </dev/null >/dev/null 2>&1 &
  # Start Wine's helper processes with their output detached, as at the first boot.
  "$here/cmake/wine-run.sh" cmd /c exit </dev/null >/dev/null 2>&1 || true
}
"$here/cmake/wine-run.sh" wineboot -i </dev/null >/dev/null 2>&1 || true
restart_server
# A Windows process occasionally fails to start under Wine (no output, exit at once); such a test
# is run once more, so a real failure still fails and a start-up hiccup does not.
run_ctest() {
  if ! ctest --test-dir "$build_dir" --output-on-failure "$@"; then
    echo "Running the failed tests once more under Wine:"
    ctest --test-dir "$build_dir" --output-on-failure --rerun-failed
  fi
}
run_ctest "$@"

# The screen's DPI is read when the Wine server starts.
set_dpi() {
  "$here/cmake/wine-run.sh" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD \
    /d "$1" /f </dev/null >/dev/null 2>&1
  restart_server
}
echo "The preview's tests at 144 DPI:"
set_dpi 144
KELVANE_EXPECT_DPI=144 run_ctest -R '^preview_dll_test$'
