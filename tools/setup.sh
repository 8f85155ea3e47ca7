#!/usr/bin/env bash
# Installs the toolchains and libraries the build and the tests need.
# Idempotent: every step is skipped when its result is already present.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
deps="$here/build/deps"
sudo=""
[ "$(id -u)" = 0 ] || sudo="sudo"

packages=(
  cmake make g++ pkg-config clang libclang-rt-14-dev
  g++-mingw-w64-i686 libz-mingw-w64-dev
  libcjson-dev libminizip-dev zlib1g-dev libgtest-dev
  wine wine32:i386 xvfb xauth x11-utils imagemagick fonts-wqy-microhei
  nginx-light zip unzip libarchive-tools python3 dpkg-dev locales
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

src_list=/etc/apt/sources.list.d/qorv-deb-src.sources
need_update=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
  need_update=1
fi
if [ ! -f "$src_list" ] && ! grep -rqs '^Types:.*deb-src\|^deb-src' /etc/apt/sources.list /etc/apt/sources.list.d/; then
  # Source packages of cJSON, zlib (minizip) and GoogleTest are built with mingw.
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    sed -n '/^Types: deb$/,/^$/p' /etc/apt/sources.list.d/debian.sources |
      sed 's/^Types: deb$/Types: deb-src/' | $sudo tee "$src_list" >/dev/null
  else
    grep -h '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' |
      $sudo tee /etc/apt/sources.list.d/qorv-deb-src.list >/dev/null
    $sudo touch "$src_list"
  fi
  need_update=1
fi
if [ ${#missing[@]} -gt 0 ] || [ $need_update = 1 ]; then
  $sudo apt-get update -q
fi
if [ ${#missing[@]} -gt 0 ]; then
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# The Windows-side tests run Wine under en_US.UTF-8 for ANSI code page 1252;
# the locale must exist so that Wine still maps file names through UTF-8.
if ! locale -a | grep -qix 'en_US\.utf-\?8'; then
  $sudo sed -i 's/^# *\(en_US\.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -qx 'en_US.UTF-8 UTF-8' /etc/locale.gen || echo 'en_US.UTF-8 UTF-8' | $sudo tee -a /etc/locale.gen >/dev/null
  $sudo locale-gen
fi

"$here/tools/build-mingw-deps.sh" "$deps"
