#!/usr/bin/env bash
# The main job, end to end on this machine: demo packages, a local package
# server and account server, and the installer run twice under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
exec python3 tools/demo.py "$@"
