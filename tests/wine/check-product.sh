#!/usr/bin/env bash
# The product is a 32-bit Windows GUI executable that imports only DLLs
# Windows itself ships: nothing of the toolchain's runtime travels with it.
# Usage: check-product.sh EXE
set -u
exe=$1
shipped="advapi32 comctl32 gdi32 gdiplus kernel32 msimg32 msvcrt ole32 oleaut32 shell32
shlwapi urlmon user32 wininet"

description=$(file -b "$exe")
case "$description" in
  "PE32 executable (GUI) Intel 80386"*) ;;
  *) echo "not a PE32 GUI i386 executable: $description"; exit 1 ;;
esac

status=0
imports=$(i686-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z')
[ -n "$imports" ] || { echo "no imports found"; exit 1; }
for dll in $imports; do
  if ! grep -qw "${dll%.dll}" <<<"$shipped"; then
    echo "imports $dll, which Windows does not ship"
    status=1
  fi
done
[ $status = 0 ] && echo "PE32 GUI i386, imports: $(echo $imports)"
exit $status
