#!/usr/bin/env bash
# Installs the toolchains and libraries the build and the tests need, for this
# host's Windows road (tools/windows-road.sh): where the kernel executes 32-bit
# code, i386 multiarch and Wine's 32-bit loader; elsewhere, or with
# QORV_WINDOWS_TESTS=win64, Wine's 64-bit loader and the x86_64 compilers and
# no i386 package at all. The 32-bit product is built on both roads.
# Idempotent: every step is skipped when its result is already present.
# Usage: setup.sh [PACKAGE...]   (more Debian packages, installed the same way)
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
sudo=""
[ "$(id -u)" = 0 ] || sudo="sudo"

common=(
  cmake make g++ pkg-config clang libclang-rt-14-dev file
  g++-mingw-w64-i686 libz-mingw-w64-dev
  libcjson-dev libminizip-dev zlib1g-dev libgtest-dev libcurl4-openssl-dev
  wine xvfb xauth x11-utils imagemagick fonts-wqy-microhei iproute2
  nginx-light zip unzip libarchive-tools python3 dpkg-dev locales
  libgnutls30 openssl osslsigncode
)
# nginx-light brings Debian's nginx, whose slice module the reference edge
# (tools/cdn/edge.conf) needs. libcurl and libcrypto: the rehearsal's
# transport and the native digest check.
# Wine only recommends GnuTLS, and recommends are not installed here; its TLS
# (WinINet over HTTPS) loads the GnuTLS of its own architecture.
road32=(wine32:i386 libgnutls30:i386)
road64=(wine64 g++-mingw-w64-x86-64)

road=win64
if [ "${QORV_WINDOWS_TESTS:-}" != win64 ] && "$here/tools/windows-road.sh" --i386; then
  road=win32
fi

missing_of() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
  done
}

# A mirror in mid-sync can fail one index for a while; the install below is
# the judge of whether what we need can still be had.
apt_update() {
  local try
  for try in 1 2 3; do
    $sudo apt-get update -q && return 0
    echo "setup: apt-get update failed (try $try of 3)" >&2
    [ $try = 3 ] || sleep 10
  done
  echo "setup: going on with the package lists apt has" >&2
}

# Suites whose amd64 index arrived but whose i386 index did not: a library
# newer there for amd64 than i386 can match would break the i386 half.
# Printed as apt preferences that keep those suites below the others.
pins_for_missing_i386() {
  local release base
  for release in /var/lib/apt/lists/*_InRelease /var/lib/apt/lists/*_Release; do
    [ -f "$release" ] || continue
    base=${release%_InRelease}
    base=${base%_Release}
    if compgen -G "${base}_*binary-amd64_Packages*" >/dev/null &&
      ! compgen -G "${base}_*binary-i386_Packages*" >/dev/null; then
      printf 'Package: *\nPin: release n=%s\nPin-Priority: 100\n\n' \
        "$(sed -n 's/^Codename: //p' "$release" | head -n 1)"
    fi
  done
}

apt_install() { # apt-get options..., -- packages...
  local opts=()
  while [ "$1" != -- ]; do opts+=("$1"); shift; done
  shift
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends \
    -o DPkg::Lock::Timeout=300 \
    "${opts[@]}" "$@"
}

src_list=/etc/apt/sources.list.d/qorv-deb-src.sources
need_update=0
if [ $road = win32 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
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

common+=("$@")
if [ $road = win32 ]; then wanted=("${common[@]}" "${road32[@]}"); else wanted=("${common[@]}" "${road64[@]}"); fi
mapfile -t missing < <(missing_of "${wanted[@]}")
if [ ${#missing[@]} -gt 0 ] || [ $need_update = 1 ]; then
  apt_update
fi
if [ ${#missing[@]} -gt 0 ]; then
  log=$(mktemp)
  if ! apt_install -- "${missing[@]}" 2>"$log"; then
    ok=0
    # i386 packages already installed hold their amd64 halves back too.
    if dpkg --print-foreign-architectures | grep -qx i386; then
      prefs=$(mktemp -d)
      pins_for_missing_i386 >"$prefs/qorv-i386.pref"
      if [ -s "$prefs/qorv-i386.pref" ]; then
        echo "setup: retrying with suites whose i386 index is missing kept below the others" >&2
        apt_install -o Dir::Etc::PreferencesParts="$prefs" -- "${missing[@]}" 2>"$log" && ok=1
      fi
      rm -rf "$prefs"
    fi
    if [ $ok = 0 ] && [ $road = win32 ]; then
      echo "setup: the i386 packages cannot be installed now; taking the 64-bit road" >&2
      mapfile -t missing < <(missing_of "${common[@]}" "${road64[@]}")
      road=win64
      apt_install -- "${missing[@]}" 2>"$log" && ok=1
    fi
    if [ $ok = 0 ]; then
      echo "setup: could not install: ${missing[*]}" >&2
      cat "$log" >&2
      rm -f "$log"
      exit 1
    fi
  fi
  rm -f "$log"
fi

# The Windows-side tests run Wine under en_US.UTF-8 for ANSI code page 1252;
# the locale must exist so that Wine still maps file names through UTF-8.
if ! locale -a | grep -qix 'en_US\.utf-\?8'; then
  $sudo sed -i 's/^# *\(en_US\.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -qx 'en_US.UTF-8 UTF-8' /etc/locale.gen || echo 'en_US.UTF-8 UTF-8' | $sudo tee -a /etc/locale.gen >/dev/null
  $sudo locale-gen
fi

"$here/tools/build-mingw-deps.sh" i686
if [ $road = win64 ]; then "$here/tools/build-mingw-deps.sh" x86_64; fi
"$here/tools/windows-road.sh" --why
