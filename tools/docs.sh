#!/usr/bin/env bash
# Builds the API reference from the installed headers into build/docs/html
# and fails on any Doxygen warning, such as a public name without its
# documentation comment, so the reference cannot fall behind the headers.
#   tools/docs.sh [OUTPUT_DIR]
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
out=${1:-$root/build/docs}
command -v doxygen >/dev/null || { echo "docs: doxygen is not installed (apt-get install doxygen)" >&2; exit 2; }
# The public headers are exactly the ones the install rules list.
headers=$(sed -n '/^# ---- install/,/^install(EXPORT/p' CMakeLists.txt | grep -o '[A-Za-z0-9_/]*\.h' | sort -u)
rm -rf "$out" && mkdir -p "$out"
FELBRIN_DOC_INPUT=$(echo "$headers" | tr '\n' ' ') FELBRIN_DOC_OUT=$out FELBRIN_DOC_ROOT=$root/ \
  doxygen docs/Doxyfile
if [ -s "$out/warnings.log" ]; then
  cat "$out/warnings.log" >&2
  echo "docs: $(grep -c 'warning:' "$out/warnings.log") warnings" >&2
  exit 1
fi
echo "docs: $out/html/index.html"
