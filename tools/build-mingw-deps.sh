#!/usr/bin/env bash
# Builds cJSON, minizip (unzip) and GoogleTest for Windows on ARCH (i686 or
# x86_64) from Debian's own source packages into build/deps/ARCH (include/,
# lib/, with the CMake packages of cJSON and GoogleTest in lib/cmake/), and
# records the source versions in build/deps/ARCH/versions.txt. zlib comes
# prebuilt from libz-mingw-w64-dev. Skips every library whose install is
# already there.
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

cmake_install() { # source directory, cmake options...
  local build="$prefix/obj/$(basename "$1")"
  cmake -S "$1" -B "$build" -G "Unix Makefiles" \
    -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-$arch.cmake" \
    -DCMAKE_INSTALL_PREFIX="$prefix" "${@:2}" >/dev/null
  cmake --build "$build" -j"$(nproc)" >/dev/null
  cmake --install "$build" >/dev/null
}

rm -f "$prefix/versions.txt.new"
if [ ! -f "$prefix/lib/cmake/cJSON/cJSONConfig.cmake" ]; then
  dir=$(fetch cjson 'cjson-1.7*/')
  # Compiled with our flags only: its own would add stack-protector calls,
  # which only libssp resolves, and the product does not link it. Its
  # CMakeLists.txt still asks for CMake 2.8, which CMake warns about.
  cmake_install "$dir" -DCMAKE_C_FLAGS="$cflags" -DBUILD_SHARED_LIBS=OFF \
    -DENABLE_CJSON_TEST=OFF -DENABLE_CUSTOM_COMPILER_FLAGS=OFF -Wno-deprecated
fi

if [ ! -f "$prefix/lib/libminizip.a" ]; then
  dir=$(fetch zlib 'zlib-1.*/')
  # contrib/minizip has no build of its own; the installer needs only its
  # unzip half.
  mkdir -p "$prefix/include/minizip"
  for f in unzip ioapi; do
    $cc $cflags -c "$dir/contrib/minizip/$f.c" -o "$prefix/obj/$f.o"
  done
  $ar rcs "$prefix/lib/libminizip.a" "$prefix/obj/unzip.o" "$prefix/obj/ioapi.o"
  cp "$dir"/contrib/minizip/{unzip.h,ioapi.h,crypt.h} "$prefix/include/minizip/"
fi

if [ ! -f "$prefix/lib/cmake/GTest/GTestConfig.cmake" ]; then
  dir=$(fetch googletest 'googletest-1.*/')
  cmake_install "$dir" -DCMAKE_BUILD_TYPE=Release \
    -DBUILD_GMOCK=OFF -DINSTALL_GTEST=ON -Dgtest_force_shared_crt=ON
fi

if [ -f "$prefix/versions.txt.new" ]; then
  cat "$prefix/versions.txt.new" >>"$prefix/versions.txt"
  rm -f "$prefix/versions.txt.new"
fi
