#!/usr/bin/env bash
# fuzz-long.sh TARGET SECONDS
# Runs one libFuzzer target (ASan + UBSan, the fuzz preset) for SECONDS on a
# copy of its kept corpus fuzz/corpus/<name> (TARGET is fuzz_<name>), with a
# 5 s hang limit, then merges what the run found back into the kept corpus:
# only inputs that add coverage, and only small ones. Each run appends its
# executions to fuzz/long-runs.tsv, so the total per target can be counted:
#   awk -F'\t' '$2 == "fuzz_ramp_reader" { n += $4 } END { print n }' fuzz/long-runs.tsv
# A crash, hang or leak stops the run; the input is left in build/fuzz/long/
# for a test to be written from it.
set -eu
cd "$(dirname "$0")/.."
if [ $# -ne 2 ]; then
  echo "usage: tools/fuzz-long.sh TARGET SECONDS" >&2
  exit 2
fi
target=$1
seconds=$2
name=${target#fuzz_}
kept=fuzz/corpus/$name
[ -d "$kept" ] || { echo "fuzz-long.sh: no kept corpus $kept" >&2; exit 2; }

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target "$target" >/dev/null
program=build/fuzz/fuzz/$target
work=build/fuzz/long/$name
rm -rf "$work" && mkdir -p "$work/corpus" "$work/artifacts"
cp "$kept"/* "$work/corpus/"

log=$work/run.log
rc=0
"$program" -max_total_time="$seconds" -timeout=5 -max_len=16384 -print_final_stats=1 \
  -artifact_prefix="$work/artifacts/" "$work/corpus" >"$log" 2>&1 || rc=$?
executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
printf '%s\t%s\t%s\t%s\t%s\n' "$(date -u +%Y-%m-%dT%H:%M:%SZ)" "$target" "$seconds" "${executions:-0}" "$rc" \
  >>fuzz/long-runs.tsv
echo "$target: ${executions:-0} executions in $seconds s, exit $rc"
if [ "$rc" -ne 0 ]; then
  grep -E 'ERROR|SUMMARY|Test unit written' "$log" || tail -n 40 "$log"
  exit "$rc"
fi

# Keep the corpus small: the named seeds (the example files, hand-made
# edge cases) always stay; of the rest, a minimal set that keeps all the
# coverage the run reached replaces the kept files, nothing above 4 KiB.
min=$work/minimized
mkdir -p "$min"
find "$kept" -maxdepth 1 -type f ! -regex '.*/[0-9a-f]\{40\}' -exec cp {} "$min/" \;
"$program" -merge=1 -max_len=4096 "$min" "$kept" "$work/corpus" >"$work/merge.log" 2>&1
find "$kept" -maxdepth 1 -type f -regex '.*/[0-9a-f]\{40\}' -delete
cp -n "$min"/* "$kept/"
echo "$kept: $(find "$kept" -type f | wc -l) files, $(cat "$kept"/* | wc -c) bytes"
