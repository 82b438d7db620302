#!/bin/sh
# The per-user installer under Wine, in a Wine prefix of its own: built by tools/windows-msi.sh,
# installed, checked with reg query and by previewing through the installed DLL, upgraded by a
# newer version and removed, with what other programs registered before left as it was.
# Wine's msiexec runs as an administrator and does not honour MSIINSTALLPERUSER, so it records
# the product under HKEY_LOCAL_MACHINE where Windows uses HKEY_CURRENT_USER; both are looked at.
# Usage: msi_test.sh SOURCE_DIR MINGW_BUILD_DIR
set -eu
source_dir=$1
build=$2
wine="$source_dir/cmake/wine-run.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/kelvane-msi-test.XXXXXX")
WINEPREFIX="$work/prefix"
export WINEPREFIX
wineserver=/usr/lib/wine/wineserver
[ -x "$wineserver" ] || wineserver=wineserver
trap '"$wineserver" -k >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
win() { printf 'Z:%s' "$(echo "$1" | tr / '\\')"; }

version=$("$source_dir/tools/version.sh")
newer=$(echo "$version" | awk -F. '{ printf "%d.%d.%d", $1, $2, $3 + 1 }')
"$source_dir/tools/windows-msi.sh" "$build" "$work/kelvane-$version-x64.msi" >/dev/null 2>&1
"$source_dir/tools/windows-msi.sh" "$build" "$work/kelvane-$newer-x64.msi" "$newer" >/dev/null 2>&1
"$wine" wineboot -i </dev/null >/dev/null 2>&1

. "$source_dir/tests/win32/registry_checks.sh"
machine='HKLM\Software\Classes'
msiexec() { "$wine" msiexec "$@" /qn </dev/null >/dev/null 2>&1; }
# The versions of the products named Kelvane, under either Uninstall key.
products() {
  for root in HKCU HKLM; do
    reg query "$root\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall" /s
  done | awk '/DisplayName/ && $NF == "Kelvane" { named = 1; next }
              /^HKEY/ { named = 0 }
              named && /DisplayVersion/ { print $NF }'
}

# Before: .d64 opens with another program, .d71 has another program's preview handler for this
# user and .d82 another program's thumbnails for all users.
reg add "$classes\\.d64" /ve /d VICE.D64 /f >/dev/null
reg add "$classes\\.d71\\ShellEx\\$preview" /ve /d "$other" /f >/dev/null
reg add "$machine\\.d82\\ShellEx\\$thumbnail" /ve /d "$other" /f >/dev/null

msiexec /i "$(win "$work/kelvane-$version-x64.msi")" || fail "install"
dir="$WINEPREFIX/drive_c/users/$(id -un)/AppData/Local/Programs/Kelvane"
installed_dll="C:\\users\\$(id -un)\\AppData\\Local\\Programs\\Kelvane\\kelvane_preview.dll"
for f in kelvane_preview.dll kelvane-view.exe kelvane.exe README.txt kelvane-blank.d64; do
  [ -f "$dir/$f" ] || fail "$f not installed"
done
[ "$(wc -c <"$dir/kelvane-blank.d64")" -eq 174848 ] || fail "the New menu's template is no blank D64"
grep -q "Kelvane $version\\." "$dir/README.txt" || fail "the read-me does not name version $version"
expect "products" "$(products)" "$version"
expect_classes "$installed_dll"
expect_new_menu "${installed_dll%\\kelvane_preview.dll}"
expect "thumbnail class" "$(value "$classes\\CLSID\\$thumbclsid" '')" "Kelvane disk image thumbnails"
for e in .d64 .d81 .d80 .d82 .dnp .dfi .g64 .g71 .nib .t64 .lnx; do
  expect "$e handler" "$(value "$classes\\$e\\ShellEx\\$preview" '')" "$clsid"
done
for e in .d64 .d71 .d81 .d80 .dnp .dfi .g64 .g71 .nib .t64 .lnx; do
  expect "$e thumbnails" "$(value "$classes\\$e\\ShellEx\\$thumbnail" '')" "$thumbclsid"
done
for e in .d64 .d71 .d81 .d80 .d82 .dnp .dfi .g64 .g71 .nib .t64 .lnx; do
  expect "$e open with" "$(value "$classes\\$e\\OpenWithProgids" Kelvane.DiskImage)" ""
done
expect "open with command" "$(value "$classes\\Kelvane.DiskImage\\shell\\open\\command" '')" \
  "\"${installed_dll%kelvane_preview.dll}kelvane-view.exe\" \"%1\""
expect ".d64 default" "$(value "$classes\\.d64" '')" "VICE.D64"
expect ".d71 other handler" "$(value "$classes\\.d71\\ShellEx\\$preview" '')" "$other"
key_exists "$classes\\.d82\\ShellEx\\$thumbnail" && fail ".d82 thumbnails set over another program's"
# The per-user install writes nothing for every user.
for k in "$machine\\CLSID\\$clsid" "$machine\\CLSID\\$propclsid" "HKLM\\$properties\\.d64" \
  "$machine\\SystemFileAssociations\\.d64"; do
  key_exists "$k" && fail "the per-user install wrote $k"
done

# The DLL that InprocServer32 names previews the sample as the build's own DLL does (Wine reads
# no per-user classes for CoCreateInstance, so the host loads it from that path).
server=$(value "$classes\\CLSID\\$clsid\\InprocServer32" '')
"$wine" "$build/src/kelvane-view.exe" "$(win "$source_dir/samples/demo.d64")" --dll "$server" \
  --shot "$(win "$work/installed.bmp")" </dev/null >/dev/null 2>&1 || fail "no preview through $server"
"$wine" "$build/src/kelvane-view.exe" "$(win "$source_dir/samples/demo.d64")" \
  --shot "$(win "$work/built.bmp")" </dev/null >/dev/null 2>&1 || fail "no preview through the build's DLL"
cmp -s "$work/installed.bmp" "$work/built.bmp" || fail "the installed DLL's preview differs"

# A newer version replaces this one: one product, the newer files, the same registration.
msiexec /i "$(win "$work/kelvane-$newer-x64.msi")" || fail "upgrade"
expect "products after the upgrade" "$(products)" "$newer"
grep -q "Kelvane $newer\\." "$dir/README.txt" || fail "the upgrade left the older read-me"
expect "server after the upgrade" "$(value "$classes\\CLSID\\$clsid\\InprocServer32" '')" "$installed_dll"
expect ".d64 handler after the upgrade" "$(value "$classes\\.d64\\ShellEx\\$preview" '')" "$clsid"
expect ".d71 other handler after the upgrade" "$(value "$classes\\.d71\\ShellEx\\$preview" '')" "$other"
# An older one does not install over it.
msiexec /i "$(win "$work/kelvane-$version-x64.msi")" && fail "the older version installed over the newer"
expect "products after the downgrade" "$(products)" "$newer"

msiexec /x "$(win "$work/kelvane-$newer-x64.msi")" || fail "uninstall"
expect "products after uninstall" "$(products)" ""
expect_new_menu ""
[ -e "$dir" ] && fail "the program folder is left: $(ls "$dir")"
[ -e "$(dirname "$dir")" ] && fail "the empty Programs folder is left"
for k in "CLSID\\$clsid" "CLSID\\$thumbclsid" Kelvane.DiskImage .d80 .d81 .dnp .dfi .g64 .g71 .nib .t64 .lnx \
  .d64\\ShellEx .d64\\OpenWithProgids .d71\\OpenWithProgids .d71\\ShellEx\\$thumbnail; do
  key_exists "$classes\\$k" && fail "$k left: $(reg query "$classes\\$k" /s)"
done
expect "handler list after" "$(value "$handlers" "$clsid")" '<none>'
expect ".d64 default after" "$(value "$classes\\.d64" '')" "VICE.D64"
expect ".d71 other handler after" "$(value "$classes\\.d71\\ShellEx\\$preview" '')" "$other"
expect ".d82 machine thumbnails after" "$(value "$machine\\.d82\\ShellEx\\$thumbnail" '')" "$other"

# For every user (ALLUSERS=1, elevated): Program Files, the same registration under HKLM, the
# property handler (except where another program's is set) and the lists of properties Explorer
# shows; nothing for this user alone; and all of it gone again after the uninstall. (Wine's
# propsys cannot be asked which handler it would use: PSLookupPropertyHandlerCLSID is not
# implemented and SHGetPropertyStoreFromParsingName answers E_NOTIMPL.)
reg add "HKLM\\$properties\\.dnp" /ve /d "$other" /f >/dev/null
msiexec /i "$(win "$work/kelvane-$version-x64.msi")" ALLUSERS=1 || fail "install for every user"
mdir="$WINEPREFIX/drive_c/Program Files/Kelvane"
for f in kelvane_preview.dll kelvane-view.exe kelvane.exe README.txt kelvane-blank.d64; do
  [ -f "$mdir/$f" ] || fail "$f not installed for every user"
done
user_classes=$classes
classes=$machine
handlers='HKLM\Software\Microsoft\Windows\CurrentVersion\PreviewHandlers'
expect_classes 'C:\Program Files\Kelvane\kelvane_preview.dll'
expect_new_menu 'C:\Program Files\Kelvane'
expect "property server" "$(value "$machine\\CLSID\\$propclsid\\InprocServer32" '')" \
  'C:\Program Files\Kelvane\kelvane_preview.dll'
for e in .d64 .d71 .d81 .d80 .d82 .dfi .g64 .g71 .nib .t64 .lnx; do
  expect "$e property handler" "$(value "HKLM\\$properties\\$e" '')" "$propclsid"
done
expect ".dnp other property handler" "$(value "HKLM\\$properties\\.dnp" '')" "$other"
key_exists "$machine\\SystemFileAssociations\\.dnp" && fail ".dnp property lists set beside another handler"
for e in .d64 .d71 .d81 .d80 .d82 .dfi .g64 .g71 .nib .t64 .lnx; do
  for list in PreviewDetails FullDetails InfoTip; do
    shown=$(value "$machine\\SystemFileAssociations\\$e" "$list")
    case "$shown" in
      prop:*System.Title*System.Comment*) ;;
      *) fail "$e $list: $shown" ;;
    esac
  done
done
expect ".d64 handler for every user" "$(value "$machine\\.d64\\ShellEx\\$preview" '')" "$clsid"
expect ".d82 other machine thumbnails kept" "$(value "$machine\\.d82\\ShellEx\\$thumbnail" '')" "$other"
key_exists "$user_classes\\CLSID\\$clsid" && fail "the install for every user wrote the user's classes"
msiexec /x "$(win "$work/kelvane-$version-x64.msi")" ALLUSERS=1 || fail "uninstall for every user"
[ -e "$mdir" ] && fail "the program folder is left: $(ls "$mdir")"
for k in "$machine\\CLSID\\$clsid" "$machine\\CLSID\\$thumbclsid" "$machine\\CLSID\\$propclsid" \
  "$machine\\Kelvane.DiskImage" "HKLM\\$properties\\.d64" "$machine\\SystemFileAssociations\\.d64" \
  "$machine\\.d64\\ShellEx"; do
  key_exists "$k" && fail "$k left after the uninstall for every user"
done
expect_new_menu ""
expect ".dnp other property handler after" "$(value "HKLM\\$properties\\.dnp" '')" "$other"

[ "$failures" -eq 0 ] && echo "installer: install, upgrade and uninstall, for one user and for all: all checks passed"
exit "$failures"
