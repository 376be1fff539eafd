#!/usr/bin/env bash
# fuzz-speed.sh [SECONDS [TARGET...]]
# Runs fuzz targets of the fuzz preset's build for SECONDS each (default 20)
# on a copy of their kept corpora, as the smoke run of the test command runs
# them, and prints each one's executions per second, so a change in a
# target's speed can be measured side by side.
# Builds nothing: build the fuzz preset first.
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-20}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || mapfile -t targets < <(tools/fuzz-targets.sh)
work=build/fuzz/speed
for target in "${targets[@]}"; do
  name=${target#fuzz_}
  if [ ! -d "fuzz/corpus/$name" ]; then
    printf '%s\tno corpus\n' "$target"
    continue
  fi
  rm -rf "$work" && mkdir -p "$work/corpus"
  cp fuzz/corpus/"$name"/* "$work/corpus/"
  "build/fuzz/fuzz/$target" -max_total_time="$seconds" -timeout=5 -print_final_stats=1 \
    -artifact_prefix="$work/" "$work/corpus" >"$work/run.log" 2>&1 || true
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$work/run.log")
  printf '%s\t%s\n' "$target" "${rate:-failed}"
done
