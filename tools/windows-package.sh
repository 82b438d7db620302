#!/bin/sh
# Builds the Windows download: the DLL, the two programs, the install scripts, the read-me and
# the New menu's blank D64.
# Usage: tools/windows-package.sh MINGW_BUILD_DIR OUT.zip
set -eu
build=$1
mkdir -p "$(dirname "$2")"
out=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
here=$(cd "$(dirname "$0")/.." && pwd)
stage=$(mktemp -d "${TMPDIR:-/tmp}/kelvane-package.XXXXXX")
trap 'rm -rf "$stage"' EXIT
dir="$stage/kelvane-windows-x64"
mkdir -p "$dir"
cp "$build/src/kelvane_preview.dll" "$build/src/kelvane-view.exe" "$build/src/cli/kelvane.exe" \
  "$here/packaging/windows/install.cmd" "$here/packaging/windows/uninstall.cmd" "$dir/"
sed "s/@VERSION@/$("$here/tools/version.sh")/g" "$here/packaging/windows/README.txt" >"$dir/README.txt"
x86_64-w64-mingw32-strip "$dir/kelvane_preview.dll" "$dir/kelvane-view.exe" "$dir/kelvane.exe"
"$here/tools/windows-template.sh" "$dir"
rm -f "$out"
(cd "$stage" && zip -q -r -X "$out" kelvane-windows-x64)
echo "The Windows package is $out:"
unzip -l "$out" | sed -n '4,$p'
