#!/bin/sh
# Builds the per-user Windows installer from packaging/windows/kelvane.wxs with wixl, then sets in
# the package what wixl 0.101 cannot express (with msibuild, of the same msitools):
# - each extension's handler component is installed only where no other program's preview
#   handler or thumbnail provider is set for it, under HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE
#   (wixl reads no Condition inside a Component);
# - the older version is removed before the newer one is installed (wixl has no
#   MajorUpgrade/@Schedule and puts RemoveExistingProducts after InstallFinalize);
# - the searches read the 64-bit registry (wixl leaves them in the 32-bit view);
# - the two "tell Explorer" actions run where the sequence names them (wixl appends custom
#   actions after InstallFinalize, where deferred actions may not run).
# Usage: tools/windows-msi.sh MINGW_BUILD_DIR OUT.msi [VERSION]   (VERSION: the CMake project's)
set -eu
build=$(cd "$1" && pwd)
mkdir -p "$(dirname "$2")"
out=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
here=$(cd "$(dirname "$0")/.." && pwd)
version=${3:-$("$here/tools/version.sh")}
work=$(mktemp -d "${TMPDIR:-/tmp}/kelvane-msi.XXXXXX")
trap 'rm -rf "$work"' EXIT

# The extensions the handler reads, as install.cmd registers them.
extensions="d64 d71 d81 d80 d82 dnp dfi g64 g71 nib t64 lnx"
preview_clsid='{c1ca61c5-f30b-4bde-9457-ff81a9e316d4}'
thumbnail_clsid='{e17eed19-37b8-4991-b543-d557fc76c06d}'
preview_key='{8895b1c6-b41f-4c1c-a562-0d564250836f}'
thumbnail_key='{e357fccd-a995-4576-b01f-234630154e96}'

stage="$work/stage"
mkdir -p "$stage"
cp "$build/src/kelvane_preview.dll" "$build/src/kelvane-view.exe" "$build/src/cli/kelvane.exe" "$stage/"
x86_64-w64-mingw32-strip "$stage/kelvane_preview.dll" "$stage/kelvane-view.exe" "$stage/kelvane.exe"
sed "s/@VERSION@/$version/g" "$here/packaging/windows/README.txt" >"$stage/README.txt"

# kind key clsid: one handler association per extension.
handlers() {
  echo "PREVIEW $preview_key $preview_clsid"
  echo "THUMBNAIL $thumbnail_key $thumbnail_clsid"
}

{
  echo '<?xml version="1.0" encoding="utf-8"?>'
  echo '<Include>'
  for e in $extensions; do
    upper=$(echo "$e" | tr a-z A-Z)
    handlers | while read -r kind key clsid; do
      for root in HKCU HKLM; do
        echo "  <Property Id=\"${root}_${kind}_${upper}\"><RegistrySearch Id=\"Find${root}${kind}_$e\" Root=\"$root\" Key=\"Software\\Classes\\.$e\\ShellEx\\$key\" Name=\"\" Type=\"raw\"/></Property>"
      done
    done
  done
  echo '</Include>'
} >"$work/extension-searches.wxi"

{
  echo '<?xml version="1.0" encoding="utf-8"?>'
  echo '<Include>'
  for e in $extensions; do
    handlers | while read -r kind key clsid; do
      echo "  <Component Id=\"${kind}_$e\" Guid=\"*\"><RegistryValue Root=\"HKCU\" Key=\"Software\\Classes\\.$e\\ShellEx\\$key\" Type=\"string\" Value=\"$clsid\" KeyPath=\"yes\"/></Component>"
    done
    echo "  <Component Id=\"OpenWith_$e\" Guid=\"*\"><RegistryValue Root=\"HKCU\" Key=\"Software\\Classes\\.$e\\OpenWithProgids\" Name=\"Kelvane.DiskImage\" Type=\"string\" Value=\"\" KeyPath=\"yes\"/></Component>"
  done
  echo '</Include>'
} >"$work/extension-components.wxi"

{
  echo '<?xml version="1.0" encoding="utf-8"?>'
  echo '<Include>'
  for e in $extensions; do
    echo "  <ComponentRef Id=\"PREVIEW_$e\"/><ComponentRef Id=\"THUMBNAIL_$e\"/><ComponentRef Id=\"OpenWith_$e\"/>"
  done
  echo '</Include>'
} >"$work/extension-refs.wxi"

cp "$here/packaging/windows/kelvane.wxs" "$work/"
(cd "$work" && wixl -a x64 -D "Version=$version" -D "Stage=stage" -o "$work/kelvane.msi" kelvane.wxs)

sql() { msibuild "$work/kelvane.msi" -q "$1"; }
for e in $extensions; do
  upper=$(echo "$e" | tr a-z A-Z)
  handlers | while read -r kind key clsid; do
    condition="(NOT HKCU_${kind}_$upper OR HKCU_${kind}_$upper=\"$clsid\") AND (NOT HKLM_${kind}_$upper OR HKLM_${kind}_$upper=\"$clsid\")"
    sql "UPDATE \`Component\` SET \`Condition\` = '$condition' WHERE \`Component\` = '${kind}_$e'"
  done
done
# Both registry views of a 64-bit Windows are searched in the 64-bit one (raw value, 64-bit).
sql "UPDATE \`RegLocator\` SET \`Type\` = 18"
sequence_of() {
  msiinfo export "$work/kelvane.msi" InstallExecuteSequence | tr -d '\r' |
    awk -F '\t' -v action="$1" '$1 == action { print $3 }'
}
sql "UPDATE \`InstallExecuteSequence\` SET \`Sequence\` = $(($(sequence_of InstallInitialize) + 1)) WHERE \`Action\` = 'RemoveExistingProducts'"
sql "UPDATE \`InstallExecuteSequence\` SET \`Sequence\` = $(($(sequence_of WriteRegistryValues) + 1)) WHERE \`Action\` = 'TellShellInstalled'"
sql "UPDATE \`InstallExecuteSequence\` SET \`Sequence\` = $(($(sequence_of RemoveRegistryValues) + 1)) WHERE \`Action\` = 'TellShellRemoved'"

mv "$work/kelvane.msi" "$out"
echo "The Windows installer is $out (Kelvane $version, per user)."
