#!/usr/bin/env bash
# Runs every fuzz target in BUILD_DIR for SECONDS each, starting from its seeds in
# fuzz/corpus/<target>/ and growing a working corpus in BUILD_DIR/corpus/<target>/ (the
# seeds in the repository stay as they are). A crash or broken property leaves its
# input in BUILD_DIR/artifacts/ and fails the run. Usage: fuzz/run.sh BUILD_DIR SECONDS
set -euo pipefail
build_dir=$1
seconds=$2
seeds=$(cd "$(dirname "$0")" && pwd)/corpus
mkdir -p "$build_dir/artifacts"
status=0
for program in "$build_dir"/fuzz/*_fuzzer; do
  name=$(basename "$program")
  mkdir -p "$build_dir/corpus/$name"
  log="$build_dir/artifacts/$name.log"
  if "$program" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
       -artifact_prefix="$build_dir/artifacts/$name-" \
       "$build_dir/corpus/$name" "$seeds/$name" >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    echo "$name: $runs executions in ${seconds} s"
  else
    echo "$name: FAILED, see $log"
    tail -n 30 "$log"
    status=1
  fi
done
exit $status
