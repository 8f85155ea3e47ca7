#!/usr/bin/env bash
# The Windows-side tests on this host's road (tools/windows-road.sh): the
# 32-bit product under Wine where the host runs 32-bit code, else the 64-bit
# build of the same sources, after the 32-bit product's static checks.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/windows-road.sh --why
if [ "$(tools/windows-road.sh)" = win32 ]; then
  ctest --preset win32
else
  ctest --preset win32-static
  ctest --preset win64
fi
