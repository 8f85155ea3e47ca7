#!/usr/bin/env bash
# A shipped program is a Windows GUI executable for the build's processor
# (PE32 i386 for the shipped build, PE32+ x86-64 on the 64-bit road) of at
# most MAX_KIB KiB that imports only DLLs Windows itself ships: nothing of the
# toolchain's runtime travels with it.
# Usage: check-product.sh EXE i686|x86_64 MAX_KIB
set -u
exe=$1
arch=$2
max_size=$(($3 * 1024))
shipped="advapi32 comctl32 gdi32 gdiplus kernel32 msimg32 msvcrt ole32 oleaut32 rstrtmgr shell32
shlwapi urlmon user32 wininet"

case "$arch" in
  i686) expected="PE32 executable (GUI) Intel 80386" ;;
  x86_64) expected="PE32+ executable (GUI) x86-64" ;;
  *) echo "unknown architecture $arch"; exit 2 ;;
esac
description=$(file -b "$exe")
case "$description" in
  "$expected"*) ;;
  *) echo "not a $expected: $description"; exit 1 ;;
esac

size=$(stat -c %s "$exe")
if [ "$size" -gt $max_size ]; then
  echo "$size bytes, more than $max_size"
  exit 1
fi

status=0
imports=$($arch-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z')
[ -n "$imports" ] || { echo "no imports found"; exit 1; }
for dll in $imports; do
  if ! grep -qw "${dll%.dll}" <<<"$shipped"; then
    echo "imports $dll, which Windows does not ship"
    status=1
  fi
done
[ $status = 0 ] && echo "$expected, $size bytes, imports: $(echo $imports)"
exit $status
