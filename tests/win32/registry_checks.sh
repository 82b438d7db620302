# What install_test.sh and msi_test.sh share (sourced after they set $wine): the class ids and
# keys the installers write, and reg query helpers that count failures.
clsid='{c1ca61c5-f30b-4bde-9457-ff81a9e316d4}'
preview='{8895b1c6-b41f-4c1c-a562-0d564250836f}'
thumbclsid='{e17eed19-37b8-4991-b543-d557fc76c06d}'
thumbnail='{e357fccd-a995-4576-b01f-234630154e96}'
propclsid='{92d182a1-ba99-437b-9686-6f51c26a95fe}'
properties='SOFTWARE\Microsoft\Windows\CurrentVersion\PropertySystem\PropertyHandlers'
other='{11111111-2222-3333-4444-555555555555}'
classes='HKCU\Software\Classes'
handlers='HKCU\Software\Microsoft\Windows\CurrentVersion\PreviewHandlers'
failures=0

reg() { "$wine" reg "$@" </dev/null 2>/dev/null | tr -d '\r'; }
# The data of a value ("" for the default), or "<none>" when the key or value is missing.
value() {
  if [ -z "$2" ]; then out=$(reg query "$1" /ve); else out=$(reg query "$1" /v "$2"); fi
  line=$(printf '%s\n' "$out" | grep 'REG_' | head -n 1)
  if [ -z "$line" ]; then echo '<none>'; else printf '%s\n' "$line" | sed 's/^.*REG_[A-Z_]*[ ]*//'; fi
}
key_exists() { "$wine" reg query "$1" </dev/null >/dev/null 2>&1; }
fail() {
  echo "FAIL: $1"
  failures=$((failures + 1))
}
expect() { [ "$2" = "$3" ] || fail "$(printf '%s: "%s" instead of "%s"' "$1" "$2" "$3")"; }
# The handler's class as both installers write it: the server `$1` names.
expect_classes() {
  expect "class" "$(value "$classes\\CLSID\\$clsid" '')" "Kelvane disk image preview"
  expect "display name" "$(value "$classes\\CLSID\\$clsid" DisplayName)" "Kelvane disk image preview"
  expect "app id" "$(value "$classes\\CLSID\\$clsid" AppID)" "{6d2b5079-2f0b-48dd-ab7f-97cec514d30b}"
  # The preview writes into images, which the preview host's low integrity would forbid.
  expect "integrity" "$(reg query "$classes\\CLSID\\$clsid" /v DisableLowILProcessIsolation |
    grep REG_ | tr -s ' ' | sed 's/^ //')" "DisableLowILProcessIsolation REG_DWORD 0x1"
  expect "server" "$(value "$classes\\CLSID\\$clsid\\InprocServer32" '')" "$1"
  expect "threading" "$(value "$classes\\CLSID\\$clsid\\InprocServer32" ThreadingModel)" "Apartment"
  expect "thumbnail server" "$(value "$classes\\CLSID\\$thumbclsid\\InprocServer32" '')" "$1"
  expect "thumbnail threading" "$(value "$classes\\CLSID\\$thumbclsid\\InprocServer32" ThreadingModel)" \
    "Apartment"
  expect "handler list" "$(value "$handlers" "$clsid")" "Kelvane disk image preview"
}
# Explorer's New menu entry for .d64: the blank template in folder `$1`, or none (`$1` empty).
expect_new_menu() {
  if [ -z "$1" ]; then
    key_exists "$classes\\.d64\\ShellNew" && fail "the New menu entry is left in $classes"
    return 0
  fi
  expect "New menu template" "$(value "$classes\\.d64\\ShellNew" FileName)" "$1\\kelvane-blank.d64"
  expect "New menu text" "$(value "$classes\\.d64\\ShellNew" ItemName)" "Commodore disk image (D64)"
}
