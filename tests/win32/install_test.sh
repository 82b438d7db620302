#!/bin/sh
# install.cmd and uninstall.cmd under Wine, checked with reg query: what install writes, that an
# extension's own default value and another program's preview handler stay as they were, and
# that uninstall takes back exactly what install wrote.
# Usage: install_test.sh SOURCE_DIR DLL
set -eu
source_dir=$1
dll=$2
wine="$source_dir/cmake/wine-run.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/kelvane-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
# kelvane-view.exe (built beside the DLL) is the program the scripts run to tell Explorer.
cp "$source_dir/packaging/windows/install.cmd" "$source_dir/packaging/windows/uninstall.cmd" \
  "$dll" "$(dirname "$dll")/kelvane-view.exe" "$work/"
win_work="Z:$(echo "$work" | tr / '\\')"
# The New menu's template, made as the packages make it.
tool="$(cd "$(dirname "$dll")" && pwd)/cli/kelvane.exe"
(cd "$work" && "$wine" "$tool" new kelvane-blank.d64 --name "NEW DISK,00" \
  </dev/null >/dev/null 2>&1) || true

. "$source_dir/tests/win32/registry_checks.sh"
run() { "$wine" cmd /c "$win_work\\$1" </dev/null 2>&1 | tr -d '\r'; }

# Before: .d64 opens with another program, .d71 has another preview handler, .d81 has an
# (empty) ShellEx key of its own; the rest do not exist.
reg add "$classes\\.d64" /ve /d VICE.D64 /f >/dev/null
reg add "$classes\\.d71\\ShellEx\\$preview" /ve /d "$other" /f >/dev/null
reg add "$classes\\.d81\\ShellEx" /f >/dev/null
for e in .d80 .d82 .dnp .dfi .g64 .g71 .nib .t64 .lnx; do reg delete "$classes\\$e" /f >/dev/null; done

output=$(run install.cmd)
printf '%s\n' "$output"
expect_classes "$win_work\\kelvane_preview.dll"
expect_new_menu "$win_work"
for e in .d64 .d81 .d80 .d82 .dnp .dfi .g64 .g71 .nib .t64 .lnx; do
  expect "$e handler" "$(value "$classes\\$e\\ShellEx\\$preview" '')" "$clsid"
done
for e in .d64 .d71 .d81 .d80 .d82 .dnp .dfi .g64 .g71 .nib .t64 .lnx; do
  expect "$e thumbnails" "$(value "$classes\\$e\\ShellEx\\$thumbnail" '')" "$thumbclsid"
done
expect ".d64 default" "$(value "$classes\\.d64" '')" "VICE.D64"
expect ".d71 handler" "$(value "$classes\\.d71\\ShellEx\\$preview" '')" "$other"
case "$output" in *".d71 keeps its preview handler"*) ;; *) echo "FAIL: no note about .d71"; failures=$((failures + 1)) ;; esac

# A second install changes nothing that matters.
run install.cmd >/dev/null
expect ".d64 handler again" "$(value "$classes\\.d64\\ShellEx\\$preview" '')" "$clsid"

# After the install another program puts things into keys the install made.
reg add "$classes\\.g64" /ve /d Other.G64 /f >/dev/null
reg add "$classes\\.d64\\ShellEx\\$thumbnail" /ve /d "$other" /f >/dev/null

run uninstall.cmd
expect ".g64 default after" "$(value "$classes\\.g64" '')" "Other.G64"
key_exists "$classes\\.g64\\ShellEx\\$preview" && { echo "FAIL: .g64 handler left"; failures=$((failures + 1)); }
expect ".d64 other thumbnails after" "$(value "$classes\\.d64\\ShellEx\\$thumbnail" '')" "$other"
key_exists "$classes\\CLSID\\$clsid" && { echo "FAIL: class left"; failures=$((failures + 1)); }
expect "integrity after" "$(value "$classes\\CLSID\\$clsid" DisableLowILProcessIsolation)" '<none>'
key_exists "$classes\\CLSID\\$thumbclsid" && { echo "FAIL: thumbnail class left"; failures=$((failures + 1)); }
key_exists "$classes\\.d71\\ShellEx\\$thumbnail" && { echo "FAIL: .d71 thumbnails left"; failures=$((failures + 1)); }
expect "handler list after" "$(value 'HKCU\Software\Microsoft\Windows\CurrentVersion\PreviewHandlers' "$clsid")" '<none>'
expect ".d64 default after" "$(value "$classes\\.d64" '')" "VICE.D64"
expect_new_menu ""
key_exists "$classes\\.d64\\ShellEx\\$preview" && { echo "FAIL: .d64 handler left"; failures=$((failures + 1)); }
expect ".d71 handler after" "$(value "$classes\\.d71\\ShellEx\\$preview" '')" "$other"
key_exists "$classes\\.d81\\ShellEx" || { echo "FAIL: .d81's own ShellEx key removed"; failures=$((failures + 1)); }
key_exists "$classes\\.d81\\ShellEx\\$preview" && { echo "FAIL: .d81 handler left"; failures=$((failures + 1)); }
for e in .d80 .d82 .dnp .dfi .nib; do
  if key_exists "$classes\\$e"; then
    echo "FAIL: $e left:"
    reg query "$classes\\$e" /s
    failures=$((failures + 1))
  fi
done
key_exists 'HKCU\Software\Kelvane\Installed' && { echo "FAIL: install record left"; failures=$((failures + 1)); }

# For every user (/machine; Wine runs everything as an administrator, so the refusal without one
# is not run here): the same under HKLM, with the property handler (another program's kept) and
# the properties Explorer shows; uninstall.cmd /machine takes all of it back.
reg add "HKLM\\$properties\\.dnp" /ve /d "$other" /f >/dev/null
output=$(run "install.cmd /machine")
user_classes=$classes
classes='HKLM\Software\Classes'
handlers='HKLM\Software\Microsoft\Windows\CurrentVersion\PreviewHandlers'
expect_classes "$win_work\\kelvane_preview.dll"
expect "property server" "$(value "$classes\\CLSID\\$propclsid\\InprocServer32" '')" "$win_work\\kelvane_preview.dll"
expect_new_menu "$win_work"
for e in .d64 .d71 .d81 .d80 .d82 .dfi .g64 .g71 .nib .t64 .lnx; do
  expect "$e property handler" "$(value "HKLM\\$properties\\$e" '')" "$propclsid"
  case "$(value "$classes\\SystemFileAssociations\\$e" InfoTip)" in
    prop:*System.Title*) ;;
    *) fail "$e has no tooltip properties" ;;
  esac
done
expect ".dnp other property handler" "$(value "HKLM\\$properties\\.dnp" '')" "$other"
key_exists "$classes\\SystemFileAssociations\\.dnp" && fail ".dnp property lists set beside another handler"
key_exists "$user_classes\\CLSID\\$clsid" && fail "/machine wrote the user's classes"
run "uninstall.cmd /machine" >/dev/null
for k in "$classes\\CLSID\\$clsid" "$classes\\CLSID\\$propclsid" "HKLM\\$properties\\.d64" \
  "$classes\\SystemFileAssociations\\.d64" "$classes\\.d80" 'HKLM\Software\Kelvane'; do
  key_exists "$k" && fail "$k left after uninstall.cmd /machine"
done
expect_new_menu ""
expect ".dnp other property handler after" "$(value "HKLM\\$properties\\.dnp" '')" "$other"
reg delete "HKLM\\$properties\\.dnp" /f >/dev/null
classes=$user_classes

# Leave the prefix as it was found.
reg delete "$classes\\.d64" /f >/dev/null
reg delete "$classes\\.d71" /f >/dev/null
reg delete "$classes\\.d81" /f >/dev/null
reg delete "$classes\\.g64" /f >/dev/null
[ "$failures" -eq 0 ] && echo "install and uninstall: all checks passed"
exit "$failures"
