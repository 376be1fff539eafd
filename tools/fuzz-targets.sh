#!/usr/bin/env bash
# fuzz-targets.sh
# Prints the fuzz targets, one a line: fuzz_<name> for every kept corpus
# fuzz/corpus/<name>.
set -eu
cd "$(dirname "$0")/.."
for dir in fuzz/corpus/*/; do
  echo "fuzz_$(basename "$dir")"
done
