#!/bin/sh
# Checks the preview DLL's import and export tables (objdump -p): it exports exactly
# DllGetClassObject and DllCanUnloadNow, and every DLL it imports is one of Windows' own.
set -eu
dll=$1
objdump=x86_64-w64-mingw32-objdump
table=$("$objdump" -p "$dll")
imports=$(printf '%s\n' "$table" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
status=0
for name in $imports; do
  case "$name" in
    kernel32.dll | user32.dll | gdi32.dll | advapi32.dll | ole32.dll | oleaut32.dll | shell32.dll | \
      shlwapi.dll | msvcrt.dll | comctl32.dll | uxtheme.dll) ;;
    *) echo "imports $name, which is not a Windows DLL"; status=1 ;;
  esac
done
exports=$(printf '%s\n' "$table" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
  sed -n 's/^\s*\[ *[0-9]*\] //p' | sort | tr '\n' ' ')
if [ "$exports" != "DllCanUnloadNow DllGetClassObject " ]; then
  echo "exports '$exports' instead of DllCanUnloadNow and DllGetClassObject"
  status=1
fi
[ "$status" -eq 0 ] && echo "imports: $(echo $imports); exports: $exports"
exit $status
