#!/usr/bin/env bash
# Runs a Windows program under Wine in the build's own throwaway prefix (or
# the test's own, QORV_WINE_PREFIX: tests/run-isolated.sh), headless under a
# private Xvfb when there is no display, then stops that prefix's wineserver
# and the Xvfb. Usage: wine-run.sh BUILD_DIR PROGRAM [ARGS...]
set -u
build=$1
shift
arch=win32
case "$(file -b "$1")" in PE32+*) arch=win64 ;; esac
export WINEPREFIX="${QORV_WINE_PREFIX:-$build/wine-prefix}" WINEDEBUG=-all WINEARCH=$arch
# No Mono or Gecko installer prompts in a fresh prefix, and no desktop
# entries made on the host for the shortcuts the tests create.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot -i >/dev/null 2>&1
  wineserver -w
fi
# A new prefix links Desktop and the other user folders to the host's home;
# keep what the tests make (shortcuts) inside the prefix.
for link in "$WINEPREFIX"/drive_c/users/*/*; do
  if [ -L "$link" ]; then rm "$link" && mkdir "$link"; fi
done
# The X server picks a free display itself and names it: no race with the
# tests beside this one.
xvfb=
if [ -z "${DISPLAY:-}" ]; then
  coproc XVFB { exec Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp 2>/dev/null; }
  xvfb=$XVFB_PID
  read -r display <&"${XVFB[0]}"
  export DISPLAY=":$display"
fi
wine "$@"
rc=$?
wineserver -k 2>/dev/null
if [ -n "$xvfb" ]; then
  kill "$xvfb"
  wait "$xvfb"
fi
exit $rc
