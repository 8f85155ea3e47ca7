#!/usr/bin/env bash
# Runs one Windows-side test so that it can run beside the others: in private
# network and mount namespaces (its servers take the build's fixed ports on a
# loopback of its own) with a Wine prefix of its own, an overlay on the
# build's prefix (the template, made once) whose changes are removed after.
# Where this user may not make the namespaces it runs the test as it is, in
# the build's prefix; the tests then run one at a time (tests/CMakeLists.txt).
#   run-isolated.sh --check               exits 0 when tests can be isolated
#   run-isolated.sh BUILD_DIR COMMAND...  runs COMMAND, isolated when it can be
set -u
here=$(cd "$(dirname "$0")" && pwd)

# root makes the namespaces itself; another user as root of a user namespace
# of its own, where the prefix, its files, are root's too: Wine accepts it.
unshare=(unshare -n -m)
[ "$(id -u)" = 0 ] || unshare=(unshare -r -n -m)

can_isolate() {
  "${unshare[@]}" ip link set lo up 2>/dev/null
}

if [ "${1:-}" = --check ]; then
  can_isolate
  exit
fi

build=$(cd "$1" && pwd)
shift
if ! can_isolate; then
  exec "$@"
fi

# The first test to need the template makes it; the others wait for it.
template=$build/wine-prefix
(
  flock 9
  if [ ! -f "$template/system.reg" ]; then
    env -u QORV_WINE_PREFIX "$here/wine/wine-run.sh" "$build" \
      "$build/tests/wine/qorv-winctl.exe" ps >/dev/null
  fi
) 9>"$build/wine-prefix.lock"

# This test's prefix writes into its own folder, a few MB: what it changed.
mkdir -p "$build/wine-prefixes"
own=$(mktemp -d "$build/wine-prefixes/XXXXXX")
trap 'rm -rf "$own"' EXIT
mkdir "$own/upper" "$own/work" "$own/prefix"

# Inside: loopback up, the overlay mounted (gone with the namespace), the
# test, then every process left in its prefix stopped.
"${unshare[@]}" bash -c '
  template=$1 own=$2
  shift 2
  ip link set lo up || exit 1
  mount -t overlay overlay \
    -o "lowerdir=$template,upperdir=$own/upper,workdir=$own/work" "$own/prefix" || exit 1
  QORV_WINE_PREFIX=$own/prefix "$@"
  rc=$?
  WINEPREFIX=$own/prefix wineserver -k 2>/dev/null
  exit $rc' run-isolated "$template" "$own" "$@"
