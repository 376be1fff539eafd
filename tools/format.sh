#!/usr/bin/env bash
# Formats the product code with the house .clang-format, or checks it.
#   tools/format.sh           formats app, python, common, data, instrument, platform, sim and felbrin.h in place
#   tools/format.sh --check   lists the files that are not formatted and fails if there are any
set -eu
cd "$(dirname "$0")/.."
format=$(command -v clang-format-14 || command -v clang-format || true)
[ -n "$format" ] || { echo "format: clang-format is not installed (apt-get install clang-format)" >&2; exit 2; }
mapfile -t files < <(git ls-files 'app/*.cpp' 'app/*.h' 'python/*.cpp' 'python/*.h' 'common/*.cpp' 'common/*.h' 'data/*.cpp' 'data/*.h' \
  'instrument/*.cpp' 'instrument/*.h' 'platform/*.cpp' 'platform/*.h' 'sim/*.cpp' 'sim/*.h' felbrin.h)
if [ "${1:-}" != "--check" ]; then
  "$format" -i "${files[@]}"
  exit 0
fi
bad=0
for f in "${files[@]}"; do
  if ! "$format" "$f" | cmp -s - "$f"; then
    echo "format: $f is not formatted (tools/format.sh)"
    bad=$((bad + 1))
  fi
done
echo "format: ${#files[@]} files, $bad not formatted"
[ "$bad" -eq 0 ]
