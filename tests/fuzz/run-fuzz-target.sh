#!/bin/sh
# Runs one libFuzzer target over its seeds for QORV_FUZZ_SECONDS (default 3).
# New inputs go to CORPUS, never into the generated seeds; a finding is
# written with the FINDING_PREFIX and makes the run fail.
# Usage: run-fuzz-target.sh TARGET CORPUS SEEDS FINDING_PREFIX
set -eu
target=$1 corpus=$2 seeds=$3 prefix=$4
exec "$target" -max_total_time="${QORV_FUZZ_SECONDS:-3}" -timeout=25 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$prefix" "$corpus" "$seeds"
