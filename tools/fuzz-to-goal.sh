#!/usr/bin/env bash
# fuzz-to-goal.sh [CHUNK_SECONDS [TARGET...]]
# Runs tools/fuzz-long.sh in chunks of at most CHUNK_SECONDS (default 300) on
# each target until the executions recorded for it in fuzz/long-runs.tsv
# reach its goal: 2 million for a device target (a name ending in _device or
# _reply), 10 million for a file reader. A first chunk of 60 s measures the
# target's speed; the next ones are sized to what is left, with a tenth
# more. A failed chunk stops that target, with its input left in
# build/fuzz/long/ for a test; the others go on. One core at a time.
set -u
cd "$(dirname "$0")/.."
chunk=${1:-300}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || mapfile -t targets < <(tools/fuzz-targets.sh)
total() {
  awk -F'\t' -v t="$1" '$2 == t { n += $4 } END { print n + 0 }' fuzz/long-runs.tsv
}
for target in "${targets[@]}"; do
  case $target in
    *_device | *_reply) goal=2000000 ;;
    *) goal=10000000 ;;
  esac
  seconds=$((chunk < 60 ? chunk : 60))
  while [ "$(total "$target")" -lt "$goal" ]; do
    before=$(total "$target")
    if ! tools/fuzz-long.sh "$target" "$seconds"; then
      echo "$target: stopped after a failed run" >&2
      break
    fi
    if [ "$(total "$target")" -le "$before" ]; then
      echo "$target: a chunk ran nothing" >&2
      break
    fi
    rate=$((($(total "$target") - before) / seconds + 1))
    seconds=$(((goal - $(total "$target")) * 11 / 10 / rate + 10))
    seconds=$((seconds > chunk ? chunk : seconds))
  done
  echo "$target: $(total "$target") of $goal"
done
