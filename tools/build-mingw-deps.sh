#!/usr/bin/env bash
# Builds cJSON, minizip (unzip) and GoogleTest for i686 Windows from Debian's
# own source packages into PREFIX (include/, lib/). zlib comes prebuilt from
# libz-mingw-w64-dev. Skips every library whose archive is already there.
set -euo pipefail

prefix=${1:?usage: build-mingw-deps.sh PREFIX}
host=i686-w64-mingw32
cc=$host-gcc-posix
ar=$host-ar
here=$(cd "$(dirname "$0")/.." && pwd)
src="$prefix/src"
mkdir -p "$prefix/include" "$prefix/lib" "$src"
cflags="-O2 -Wall"

fetch() { # package, glob of the unpacked directory
  local dir
  dir=$(ls -d "$src"/$2 2>/dev/null | head -n 1 || true)
  if [ -z "$dir" ]; then
    # A mirror may lack the newest upload's files: fall back to older versions.
    local v
    for v in "" $(apt-cache showsrc "$1" | sed -n 's/^Version: //p' | sort -ruV); do
      (cd "$src" && apt-get source -q "$1${v:+=$v}" >/dev/null 2>&1) && break
    done
    dir=$(ls -d "$src"/$2 | head -n 1)
  fi
  echo "$dir"
}

if [ ! -f "$prefix/lib/libcjson.a" ]; then
  dir=$(fetch cjson 'cjson-1.7*/')
  mkdir -p "$prefix/include/cjson" "$prefix/obj"
  $cc $cflags -c "$dir/cJSON.c" -o "$prefix/obj/cJSON.o"
  $ar rcs "$prefix/lib/libcjson.a" "$prefix/obj/cJSON.o"
  cp "$dir/cJSON.h" "$prefix/include/cjson/"
fi

if [ ! -f "$prefix/lib/libminizip.a" ]; then
  dir=$(fetch zlib 'zlib-1.*/')
  mkdir -p "$prefix/include/minizip" "$prefix/obj"
  for f in unzip ioapi; do
    $cc $cflags -c "$dir/contrib/minizip/$f.c" -o "$prefix/obj/$f.o"
  done
  $ar rcs "$prefix/lib/libminizip.a" "$prefix/obj/unzip.o" "$prefix/obj/ioapi.o"
  cp "$dir"/contrib/minizip/{unzip.h,ioapi.h,crypt.h} "$prefix/include/minizip/"
fi

if [ ! -f "$prefix/lib/libgtest.a" ]; then
  dir=$(fetch googletest 'googletest-1.*/')
  cmake -S "$dir" -B "$prefix/obj/googletest" -G "Unix Makefiles" \
    -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-i686.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DBUILD_GMOCK=OFF -DINSTALL_GTEST=ON -Dgtest_force_shared_crt=ON >/dev/null
  cmake --build "$prefix/obj/googletest" -j"$(nproc)" >/dev/null
  cmake --install "$prefix/obj/googletest" >/dev/null
fi
