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

clsid='{c1ca61c5-f30b-4bde-9457-ff81a9e316d4}'
preview='{8895b1c6-b41f-4c1c-a562-0d564250836f}'
thumbclsid='{e17eed19-37b8-4991-b543-d557fc76c06d}'
thumbnail='{e357fccd-a995-4576-b01f-234630154e96}'
other='{11111111-2222-3333-4444-555555555555}'
classes='HKCU\Software\Classes'
failures=0

reg() { "$wine" reg "$@" </dev/null 2>/dev/null | tr -d '\r'; }
# The data of a value ("" for the default), or "<none>" when the key or value is missing.
value() {
  if [ -z "$2" ]; then out=$(reg query "$1" /ve); else out=$(reg query "$1" /v "$2"); fi
  line=$(printf '%s\n' "$out" | grep 'REG_' | head -n 1)
  if [ -z "$line" ]; then echo '<none>'; else printf '%s\n' "$line" | sed 's/^.*REG_[A-Z_]*[ ]*//'; fi
}
key_exists() { "$wine" reg query "$1" </dev/null >/dev/null 2>&1; }
expect() {
  if [ "$2" != "$3" ]; then
    printf 'FAIL: %s: "%s" instead of "%s"\n' "$1" "$2" "$3"
    failures=$((failures + 1))
  fi
}
run() { "$wine" cmd /c "$win_work\\$1" </dev/null 2>&1 | tr -d '\r'; }

# Before: .d64 opens with another program, .d71 has another preview handler, .d81 has an
# (empty) ShellEx key of its own; the rest do not exist.
reg add "$classes\\.d64" /ve /d VICE.D64 /f >/dev/null
reg add "$classes\\.d71\\ShellEx\\$preview" /ve /d "$other" /f >/dev/null
reg add "$classes\\.d81\\ShellEx" /f >/dev/null
for e in .d80 .d82 .dnp .dfi .g64 .g71 .nib .t64 .lnx; do reg delete "$classes\\$e" /f >/dev/null; done

output=$(run install.cmd)
printf '%s\n' "$output"
expect "class" "$(value "$classes\\CLSID\\$clsid" '')" "Kelvane disk image preview"
expect "server" "$(value "$classes\\CLSID\\$clsid\\InprocServer32" '')" "$win_work\\kelvane_preview.dll"
expect "threading" "$(value "$classes\\CLSID\\$clsid\\InprocServer32" ThreadingModel)" "Apartment"
expect "display name" "$(value "$classes\\CLSID\\$clsid" DisplayName)" "Kelvane disk image preview"
expect "app id" "$(value "$classes\\CLSID\\$clsid" AppID)" "{6d2b5079-2f0b-48dd-ab7f-97cec514d30b}"
# The preview writes into images, which the preview host's low integrity would forbid.
expect "integrity" "$(reg query "$classes\\CLSID\\$clsid" /v DisableLowILProcessIsolation |
  grep REG_ | tr -s ' ' | sed 's/^ //')" "DisableLowILProcessIsolation REG_DWORD 0x1"
expect "handler list" "$(value 'HKCU\Software\Microsoft\Windows\CurrentVersion\PreviewHandlers' "$clsid")" \
  "Kelvane disk image preview"
expect "thumbnail server" "$(value "$classes\\CLSID\\$thumbclsid\\InprocServer32" '')" \
  "$win_work\\kelvane_preview.dll"
expect "thumbnail threading" "$(value "$classes\\CLSID\\$thumbclsid\\InprocServer32" ThreadingModel)" "Apartment"
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

# Leave the prefix as it was found.
reg delete "$classes\\.d64" /f >/dev/null
reg delete "$classes\\.d71" /f >/dev/null
reg delete "$classes\\.d81" /f >/dev/null
reg delete "$classes\\.g64" /f >/dev/null
[ "$failures" -eq 0 ] && echo "install and uninstall: all checks passed"
exit "$failures"
