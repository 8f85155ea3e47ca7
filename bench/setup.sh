#!/usr/bin/env bash
# Installs what only the benchmarks need (the chart and the download peer)
# the way tools/setup.sh installs everything else; never part of the test path.
set -euo pipefail
exec "$(dirname "$0")/../tools/setup.sh" gnuplot-nox curl
