#!/bin/sh
# Makes the New menu's template, kelvane-blank.d64, in folder $1 with the kelvane.exe there (run
# by Wine): the blank disk `kelvane new` makes, so the menu and the tool make the same disk.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$1"
rm -f kelvane-blank.d64
"$here/cmake/wine-run.sh" ./kelvane.exe new kelvane-blank.d64 --name "NEW DISK,00" </dev/null >/dev/null 2>&1
[ -s kelvane-blank.d64 ] || { echo "windows-template: kelvane.exe made no kelvane-blank.d64" >&2; exit 1; }
