#!/usr/bin/env bash
# Which Windows build this host runs under Wine: "win32" (the product itself)
# where the kernel executes 32-bit code and Wine's 32-bit loader is installed,
# else "win64" (the same sources built for x86_64). QORV_WINDOWS_TESTS=win64
# forces the 64-bit road on a host that could run both.
#   windows-road.sh          prints win32 or win64
#   windows-road.sh --why    prints one sentence for a newcomer
#   windows-road.sh --i386   exits 0 when this host executes 32-bit code
set -u
here=$(cd "$(dirname "$0")/.." && pwd)

# A 93-byte i386 ELF that only calls exit(0): it needs no i386 package, so it
# tells what the kernel can run before anything is installed.
runs_i386() {
  local elf="$here/build/.i386-probe.$$"
  mkdir -p "$here/build"
  printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000\000\000\000\000\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010\135\000\000\000\135\000\000\000\005\000\000\000\000\020\000\000\061\333\270\001\000\000\000\315\200' >"$elf"
  chmod +x "$elf"
  "$elf" 2>/dev/null
  local rc=$?
  rm -f "$elf"
  return $rc
}

case "${1:-}" in
  --i386) runs_i386; exit ;;
esac

forced=${QORV_WINDOWS_TESTS:-}
case "$forced" in
  "" | win32 | win64) ;;
  *) echo "QORV_WINDOWS_TESTS must be win32 or win64, not '$forced'" >&2; exit 2 ;;
esac

i386=0
runs_i386 && i386=1
wine32=0
[ $i386 = 1 ] && /usr/lib/wine/wine --version >/dev/null 2>&1 && wine32=1

if [ "$forced" = win64 ]; then
  road=win64 why="64-bit build of the same sources; forced by QORV_WINDOWS_TESTS=win64"
elif [ "$forced" = win32 ] || [ $wine32 = 1 ]; then
  road=win32 why="the 32-bit product itself; this host runs 32-bit code"
  if [ $wine32 = 0 ]; then
    echo "QORV_WINDOWS_TESTS=win32, but this host cannot run 32-bit Windows programs" >&2
    exit 2
  fi
elif [ $i386 = 1 ]; then
  road=win64 why="64-bit build of the same sources; Wine's 32-bit loader is not installed"
else
  road=win64 why="64-bit build of the same sources; this host cannot run 32-bit code"
fi

if [ "${1:-}" = --why ]; then
  echo "Windows tests: $why"
else
  echo "$road"
fi
