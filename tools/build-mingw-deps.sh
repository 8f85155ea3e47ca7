#!/usr/bin/env bash
# Builds cJSON, minizip (unzip) and GoogleTest for Windows on ARCH (i686 or
# x86_64) from Debian's own source packages into build/deps/ARCH (include/,
# lib/), and records the source versions in build/deps/ARCH/versions.txt.
# zlib comes prebuilt from libz-mingw-w64-dev. Skips every library whose
# archive is already there.
set -euo pipefail

arch=${1:?usage: build-mingw-deps.sh i686|x86_64}
case "$arch" in
  i686 | x86_64) ;;
  *) echo "build-mingw-deps.sh: unknown architecture '$arch' (i686 or x86_64)" >&2; exit 2 ;;
esac
here=$(cd "$(dirname "$0")/.." && pwd)
prefix="$here/build/deps/$arch"
host=$arch-w64-mingw32
cc=$host-gcc-posix
ar=$host-ar
# Sources are shared by both architectures.
src="$here/build/deps/src"
mkdir -p "$prefix/include" "$prefix/lib" "$prefix/obj" "$src"
cflags="-O2 -Wall"

fetch() { # package, glob of the unpacked directory
  local dir v
  dir=$(ls -d "$src"/$2 2>/dev/null | head -n 1 || true)
  if [ -z "$dir" ]; then
    # A mirror may lack the newest upload's files: fall back to older versions.
    for v in "" $(apt-cache showsrc "$1" 2>/dev/null | sed -n 's/^Version: //p' | sort -ruV); do
      (cd "$src" && apt-get source -q "$1${v:+=$v}" >/dev/null 2>&1) && break
    done
    dir=$(ls -d "$src"/$2 2>/dev/null | head -n 1 || true)
  fi
  if [ -z "$dir" ]; then
    echo "build-mingw-deps.sh: could not fetch the source package '$1' (is a deb-src entry" \
      "configured and 'apt-get update' done? tools/setup.sh does both)" >&2
    exit 1
  fi
  echo "$1 $(basename "$dir")" >>"$prefix/versions.txt.new"
  echo "$dir"
}

rm -f "$prefix/versions.txt.new"
if [ ! -f "$prefix/lib/libcjson.a" ]; then
  dir=$(fetch cjson 'cjson-1.7*/')
  mkdir -p "$prefix/include/cjson"
  $cc $cflags -c "$dir/cJSON.c" -o "$prefix/obj/cJSON.o"
  $ar rcs "$prefix/lib/libcjson.a" "$prefix/obj/cJSON.o"
  cp "$dir/cJSON.h" "$prefix/include/cjson/"
fi

if [ ! -f "$prefix/lib/libminizip.a" ]; then
  dir=$(fetch zlib 'zlib-1.*/')
  mkdir -p "$prefix/include/minizip"
  for f in unzip ioapi; do
    $cc $cflags -c "$dir/contrib/minizip/$f.c" -o "$prefix/obj/$f.o"
  done
  $ar rcs "$prefix/lib/libminizip.a" "$prefix/obj/unzip.o" "$prefix/obj/ioapi.o"
  cp "$dir"/contrib/minizip/{unzip.h,ioapi.h,crypt.h} "$prefix/include/minizip/"
fi

if [ ! -f "$prefix/lib/libgtest.a" ]; then
  dir=$(fetch googletest 'googletest-1.*/')
  cmake -S "$dir" -B "$prefix/obj/googletest" -G "Unix Makefiles" \
    -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-$arch.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DBUILD_GMOCK=OFF -DINSTALL_GTEST=ON -Dgtest_force_shared_crt=ON >/dev/null
  cmake --build "$prefix/obj/googletest" -j"$(nproc)" >/dev/null
  cmake --install "$prefix/obj/googletest" >/dev/null
fi

if [ -f "$prefix/versions.txt.new" ]; then
  cat "$prefix/versions.txt.new" >>"$prefix/versions.txt"
  rm -f "$prefix/versions.txt.new"
fi
