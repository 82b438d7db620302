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
#   actions after InstallFinalize, where deferred actions may not run);
# - which components each install takes: those under HKEY_CURRENT_USER and %LOCALAPPDATA% the
#   per-user one (the default), those under HKEY_LOCAL_MACHINE and Program Files the one for
#   every user (ALLUSERS=1), with the property handler, which Windows reads from there only.
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
extensions="d64 d71 d81 d80 d82 dnp dfi d1m d2m d4m g64 g71 nib t64 lnx"
preview_clsid='{c1ca61c5-f30b-4bde-9457-ff81a9e316d4}'
thumbnail_clsid='{e17eed19-37b8-4991-b543-d557fc76c06d}'
preview_key='{8895b1c6-b41f-4c1c-a562-0d564250836f}'
thumbnail_key='{e357fccd-a995-4576-b01f-234630154e96}'
property_clsid='{92d182a1-ba99-437b-9686-6f51c26a95fe}'
property_handlers='SOFTWARE\Microsoft\Windows\CurrentVersion\PropertySystem\PropertyHandlers'
# What Explorer's Details pane, details view and tooltips show of an image.
preview_details='prop:System.Title;System.Keywords;System.Comment;System.FileCount;System.Size;System.DateModified'
full_details='prop:System.PropGroup.Description;System.Title;System.Keywords;System.Comment;System.FileCount;System.PropGroup.FileSystem;System.ItemNameDisplay;System.ItemTypeText;System.ItemFolderPathDisplay;System.Size;System.DateCreated;System.DateModified'
info_tip='prop:System.ItemTypeText;System.Title;System.Comment;System.Size;System.DateModified'

stage="$work/stage"
mkdir -p "$stage"
cp "$build/src/kelvane_preview.dll" "$build/src/kelvane-view.exe" "$build/src/cli/kelvane.exe" "$stage/"
x86_64-w64-mingw32-strip "$stage/kelvane_preview.dll" "$stage/kelvane-view.exe" "$stage/kelvane.exe"
sed "s/@VERSION@/$version/g" "$here/packaging/windows/README.txt" >"$stage/README.txt"
"$here/tools/windows-template.sh" "$stage"

# Explorer's New menu entry for .d64 (component id, root, the template's file id).
new_menu() {
  echo "  <Component Id=\"$1\" Guid=\"*\">"
  echo "    <RegistryValue Root=\"$2\" Key=\"Software\\Classes\\.d64\\ShellNew\" Name=\"FileName\" Type=\"string\" Value=\"[#$3]\" KeyPath=\"yes\"/>"
  echo "    <RegistryValue Root=\"$2\" Key=\"Software\\Classes\\.d64\\ShellNew\" Name=\"ItemName\" Type=\"string\" Value=\"Commodore disk image (D64)\"/>"
  echo "  </Component>"
}

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
    echo "  <Property Id=\"HKLM_PROPERTY_${upper}\"><RegistrySearch Id=\"FindHKLMPROPERTY_$e\" Root=\"HKLM\" Key=\"$property_handlers\\.$e\" Name=\"\" Type=\"raw\"/></Property>"
  done
  for root in HKCU HKLM; do
    echo "  <Property Id=\"${root}_NEW_D64\"><RegistrySearch Id=\"Find${root}New\" Root=\"$root\" Key=\"Software\\Classes\\.d64\\ShellNew\" Name=\"FileName\" Type=\"raw\"/></Property>"
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
  new_menu NewMenu HKCU BlankD64
  echo '</Include>'
} >"$work/extension-components.wxi"

# The install for every user: the classes and handler list as for one user, under HKLM, and per
# extension the two handlers, the "Open with" entry, the property handler and the property lists.
{
  echo '<?xml version="1.0" encoding="utf-8"?>'
  echo '<Include>'
  echo '  <Component Id="MachineClasses" Guid="*">'
  sed -n '/<Component Id="Classes"/,/<\/Component>/p' "$here/packaging/windows/kelvane.wxs" |
    grep '<RegistryValue' | sed 's/Root="HKCU"/Root="HKLM"/; s/KeyPath="yes"//; s/\[#PreviewDll\]/[#MachinePreviewDll]/; s/\[#ViewExe\]/[#MachineViewExe]/'
  echo "    <RegistryValue Root=\"HKLM\" Key=\"Software\\Classes\\CLSID\\$property_clsid\" Type=\"string\" Value=\"Kelvane disk image properties\" KeyPath=\"yes\"/>"
  echo "    <RegistryValue Root=\"HKLM\" Key=\"Software\\Classes\\CLSID\\$property_clsid\\InprocServer32\" Type=\"string\" Value=\"[#MachinePreviewDll]\"/>"
  echo "    <RegistryValue Root=\"HKLM\" Key=\"Software\\Classes\\CLSID\\$property_clsid\\InprocServer32\" Name=\"ThreadingModel\" Type=\"string\" Value=\"Apartment\"/>"
  echo '  </Component>'
  for e in $extensions; do
    handlers | while read -r kind key clsid; do
      echo "  <Component Id=\"${kind}_M_$e\" Guid=\"*\"><RegistryValue Root=\"HKLM\" Key=\"Software\\Classes\\.$e\\ShellEx\\$key\" Type=\"string\" Value=\"$clsid\" KeyPath=\"yes\"/></Component>"
    done
    echo "  <Component Id=\"OpenWith_M_$e\" Guid=\"*\"><RegistryValue Root=\"HKLM\" Key=\"Software\\Classes\\.$e\\OpenWithProgids\" Name=\"Kelvane.DiskImage\" Type=\"string\" Value=\"\" KeyPath=\"yes\"/></Component>"
    echo "  <Component Id=\"PROPERTY_M_$e\" Guid=\"*\"><RegistryValue Root=\"HKLM\" Key=\"$property_handlers\\.$e\" Type=\"string\" Value=\"$property_clsid\" KeyPath=\"yes\"/></Component>"
    details="Software\\Classes\\SystemFileAssociations\\.$e"
    echo "  <Component Id=\"DETAILS_M_$e\" Guid=\"*\">"
    echo "    <RegistryValue Root=\"HKLM\" Key=\"$details\" Name=\"PreviewDetails\" Type=\"string\" Value=\"$preview_details\" KeyPath=\"yes\"/>"
    echo "    <RegistryValue Root=\"HKLM\" Key=\"$details\" Name=\"FullDetails\" Type=\"string\" Value=\"$full_details\"/>"
    echo "    <RegistryValue Root=\"HKLM\" Key=\"$details\" Name=\"InfoTip\" Type=\"string\" Value=\"$info_tip\"/>"
    echo "  </Component>"
  done
  new_menu NewMenu_M HKLM MachineBlankD64
  echo '</Include>'
} >"$work/machine-components.wxi"

{
  echo '<?xml version="1.0" encoding="utf-8"?>'
  echo '<Include>'
  echo '  <ComponentRef Id="MachineClasses"/><ComponentRef Id="NewMenu"/><ComponentRef Id="NewMenu_M"/>'
  for e in $extensions; do
    echo "  <ComponentRef Id=\"PREVIEW_$e\"/><ComponentRef Id=\"THUMBNAIL_$e\"/><ComponentRef Id=\"OpenWith_$e\"/>"
    echo "  <ComponentRef Id=\"PREVIEW_M_$e\"/><ComponentRef Id=\"THUMBNAIL_M_$e\"/><ComponentRef Id=\"OpenWith_M_$e\"/>"
    echo "  <ComponentRef Id=\"PROPERTY_M_$e\"/><ComponentRef Id=\"DETAILS_M_$e\"/>"
  done
  echo '</Include>'
} >"$work/extension-refs.wxi"

cp "$here/packaging/windows/kelvane.wxs" "$work/"
(cd "$work" && wixl -a x64 -D "Version=$version" -D "Stage=stage" -o "$work/kelvane.msi" kelvane.wxs)

sql() { msibuild "$work/kelvane.msi" -q "$1"; }
condition() { sql "UPDATE \`Component\` SET \`Condition\` = '$2' WHERE \`Component\` = '$1'"; }
user='ALLUSERS<>1'
machine='ALLUSERS=1'
for c in ProgramsFolder Programs Classes; do condition "$c" "$user"; done
for c in MachinePrograms MachineClasses; do condition "$c" "$machine"; done
for e in $extensions; do
  upper=$(echo "$e" | tr a-z A-Z)
  handlers | while read -r kind key clsid; do
    free="(NOT HKCU_${kind}_$upper OR HKCU_${kind}_$upper=\"$clsid\") AND (NOT HKLM_${kind}_$upper OR HKLM_${kind}_$upper=\"$clsid\")"
    condition "${kind}_$e" "$user AND $free"
    condition "${kind}_M_$e" "$machine AND $free"
  done
  condition "OpenWith_$e" "$user"
  condition "OpenWith_M_$e" "$machine"
  # The property lists only where the property handler is ours.
  ours="$machine AND (NOT HKLM_PROPERTY_$upper OR HKLM_PROPERTY_$upper=\"$property_clsid\")"
  condition "PROPERTY_M_$e" "$ours"
  condition "DETAILS_M_$e" "$ours"
done
# The New menu entry only where no other program's is set (ours, from an older version, is
# replaced).
ours_new='(NOT HKCU_NEW_D64 OR HKCU_NEW_D64 >> "kelvane-blank.d64") AND (NOT HKLM_NEW_D64 OR HKLM_NEW_D64 >> "kelvane-blank.d64")'
condition NewMenu "$user AND $ours_new"
condition NewMenu_M "$machine AND $ours_new"
# Every component is a 64-bit one (wixl -a x64 leaves the bit clear): a 32-bit component's keys
# would go to the registry's 32-bit view, where the 64-bit Explorer and preview host never look
# (HKCU\Software\Classes\CLSID and HKLM\SOFTWARE are redirected for 32-bit programs).
sql "UPDATE \`Component\` SET \`Attributes\` = 260 WHERE \`Attributes\` = 4"
sql "UPDATE \`Component\` SET \`Attributes\` = 256 WHERE \`Attributes\` = 0"
# Both registry views of a 64-bit Windows are searched in the 64-bit one (raw value, 64-bit).
sql "UPDATE \`RegLocator\` SET \`Type\` = 18"
sequence_of() {
  msiinfo export "$work/kelvane.msi" InstallExecuteSequence | tr -d '\r' |
    awk -F '\t' -v action="$1" '$1 == action { print $3 }'
}
sql "UPDATE \`InstallExecuteSequence\` SET \`Sequence\` = $(($(sequence_of InstallInitialize) + 1)) WHERE \`Action\` = 'RemoveExistingProducts'"
for scope in "" Machine; do
  sql "UPDATE \`InstallExecuteSequence\` SET \`Sequence\` = $(($(sequence_of WriteRegistryValues) + 1)) WHERE \`Action\` = 'TellShellInstalled$scope'"
  sql "UPDATE \`InstallExecuteSequence\` SET \`Sequence\` = $(($(sequence_of RemoveRegistryValues) + 1)) WHERE \`Action\` = 'TellShellRemoved$scope'"
done

mv "$work/kelvane.msi" "$out"
echo "The Windows installer is $out (Kelvane $version, per user; ALLUSERS=1 for every user)."
