#!/bin/sh
# Runs the cross-built Windows tests under Wine: a fresh prefix, booted with its output detached
# (Wine's helper processes would otherwise hold CTest's output pipes open and stall it), one
# persistent wineserver so each test starts quickly, and everything shut down afterwards.
# Usage: tools/run-windows-tests.sh BUILD_DIR [ctest arguments...]
set -eu
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
"$here/cmake/wine-run.sh" wineboot -i </dev/null >/dev/null 2>&1 || true
"$wineserver" -p </dev/null >/dev/null 2>&1 &
# A Windows process occasionally fails to start under Wine (no output, exit at once); such a test
# is run once more, so a real failure still fails and a start-up hiccup does not.
if ! ctest --test-dir "$build_dir" --output-on-failure "$@"; then
  echo "Running the failed tests once more under Wine:"
  ctest --test-dir "$build_dir" --output-on-failure --rerun-failed
fi
