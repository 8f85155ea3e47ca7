#!/usr/bin/env bash
# Installs what only the benchmarks need (the chart and the download peer);
# idempotent like tools/setup.sh, and never part of the test path.
set -euo pipefail

sudo=""
[ "$(id -u)" = 0 ] || sudo="sudo"
missing=()
for p in gnuplot-nox curl; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
