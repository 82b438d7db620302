#!/bin/sh
# The Linux install: `cmake --install` into a staging folder lays out the tool, the thumbnailer
# entry and the MIME types where the freedesktop specifications look for them; the .deb that
# cpack makes holds the same, with its dependencies and maintainer scripts, and the tool it
# installs makes the thumbnail the build's own tool makes. (The package is unpacked, not
# installed: a test does not change the machine's packages.)
# Usage: package_test.sh SOURCE_DIR BUILD_DIR
set -eu
source_dir=$1
build=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/kelvane-package-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $1"
  failures=$((failures + 1))
}

DESTDIR="$work/stage" cmake --install "$build" --prefix /usr >/dev/null
for f in usr/bin/kelvane usr/share/thumbnailers/kelvane.thumbnailer usr/share/mime/packages/kelvane.xml; do
  [ -f "$work/stage/$f" ] || fail "cmake --install did not put $f"
done
[ -x "$work/stage/usr/bin/kelvane" ] || fail "the installed kelvane is not executable"
grep -q '^Exec=kelvane thumbnail -s %s %i %o$' "$work/stage/usr/share/thumbnailers/kelvane.thumbnailer" ||
  fail "the thumbnailer entry does not run kelvane thumbnail"
# The MIME types compile into a database that knows the images.
if command -v update-mime-database >/dev/null 2>&1; then
  update-mime-database "$work/stage/usr/share/mime" 2>/dev/null || fail "update-mime-database refused the types"
  for t in d64 d71 d81 d80 d82 dnp dfi g64 g71 nib t64 cbm-lynx; do
    [ -f "$work/stage/usr/share/mime/application/x-$t.xml" ] || fail "no MIME type application/x-$t"
  done
fi

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/deb" >/dev/null
deb=$(ls "$work"/deb/kelvane_*.deb 2>/dev/null | head -n 1)
if [ -z "$deb" ]; then
  fail "cpack made no .deb"
else
  contents=$(dpkg-deb -c "$deb")
  for f in ./usr/bin/kelvane ./usr/share/thumbnailers/kelvane.thumbnailer ./usr/share/mime/packages/kelvane.xml; do
    printf '%s\n' "$contents" | grep -q " $f\$" || fail "the .deb lacks $f"
  done
  expect_field() {
    printf '%s\n' "$(dpkg-deb -f "$deb" "$1")" | grep -q "$2" || fail "the .deb's $1 lacks $2"
  }
  expect_field Package '^kelvane$'
  expect_field Version "^$("$source_dir/tools/version.sh")\$"
  expect_field Depends 'libc6'
  expect_field Depends 'libpng16'
  dpkg-deb -e "$deb" "$work/control"
  grep -q 'update-mime-database' "$work/control/postinst" || fail "postinst does not update the MIME database"
  grep -q 'update-mime-database' "$work/control/postrm" || fail "postrm does not update the MIME database"
  dpkg-deb -x "$deb" "$work/root"
  "$work/root/usr/bin/kelvane" thumbnail -s 128 "$source_dir/samples/demo.d64" "$work/installed.png" ||
    fail "the packaged kelvane made no thumbnail"
  "$build/src/cli/kelvane" thumbnail -s 128 "$source_dir/samples/demo.d64" "$work/built.png"
  cmp -s "$work/installed.png" "$work/built.png" || fail "the packaged kelvane's thumbnail differs"
fi

# The version is set once; the README shows it.
grep -q "^Version $("$source_dir/tools/version.sh") " "$source_dir/README.md" ||
  fail "README.md does not show version $("$source_dir/tools/version.sh")"

[ "$failures" -eq 0 ] && echo "install rules and .deb: all checks passed"
exit "$failures"
