#!/usr/bin/env bash
# fuzz-figures.sh
# Prints, per fuzz target, the executions of all long runs recorded in
# fuzz/long-runs.tsv (by tools/fuzz-long.sh), the failed runs, and the size of
# its kept corpus, as a Markdown table for docs/reliability.md.
set -eu
cd "$(dirname "$0")/.."
echo "| target | long-run executions | runs | failed runs | kept corpus |"
echo "|---|---:|---:|---:|---|"
for dir in fuzz/corpus/*/; do
  name=$(basename "$dir")
  target=fuzz_$name
  read -r executions runs failed < <(awk -F'\t' -v t="$target" \
    '$2 == t { n += $4; r++; if ($5 != 0) f++ } END { print n+0, r+0, f+0 }' fuzz/long-runs.tsv)
  files=$(find "$dir" -type f | wc -l)
  bytes=$(find "$dir" -type f -exec cat {} + | wc -c)
  printf '| %s | %s | %s | %s | %s files, %s KiB |\n' "$target" "$executions" "$runs" "$failed" "$files" $(((bytes + 1023) / 1024))
done
