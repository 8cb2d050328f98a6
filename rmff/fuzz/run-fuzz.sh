#!/usr/bin/env bash
# A bounded fuzzing session: run-fuzz.sh FUZZER SEEDS WORK SECONDS.
# New inputs go to a fresh WORK folder, never into the seeds; a crash leaves its input in
# WORK/artifacts and fails the run.
set -euo pipefail
fuzzer=$1 seeds=$2 work=$3 seconds=$4
rm -rf "$work"
mkdir -p "$work/corpus" "$work/artifacts"
exec "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
  -print_final_stats=1 -artifact_prefix="$work/artifacts/" "$work/corpus" "$seeds"
