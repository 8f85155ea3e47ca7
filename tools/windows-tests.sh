#!/usr/bin/env bash
# The Windows-side tests on this host's road (tools/windows-road.sh): the
# 32-bit product under Wine where the host runs 32-bit code, else the 64-bit
# build of the same sources, after the 32-bit product's static checks.
# Each test isolated by tests/run-isolated.sh waits mostly on timeouts and
# pauses, so they run as many at once as there are cores (at most 4); where
# isolation is not available the build keeps them one at a time.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/windows-road.sh --why
jobs=$(nproc)
[ "$jobs" -le 4 ] || jobs=4
if [ "$(tools/windows-road.sh)" = win32 ]; then
  ctest --preset win32 -j "$jobs"
else
  ctest --preset win32-static
  ctest --preset win64 -j "$jobs"
fi
