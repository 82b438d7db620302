#!/bin/sh
# Runs a Windows test executable under Wine without dialogs or debugger pop-ups.
# WINEPREFIX defaults to a per-user prefix under the temporary directory; the Makefile gives a
# fresh one per run.
: "${WINEPREFIX:=${TMPDIR:-/tmp}/kelvane-wine-$(id -u)}"
export WINEPREFIX
export WINEDEBUG="${WINEDEBUG:--all,err+module}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=;winedbg.exe=d}"
export LANG=C.UTF-8
WINE="${KELVANE_WINE:-/usr/lib/wine/wine64}"
[ -x "$WINE" ] || WINE=wine64
exec "$WINE" "$@"
