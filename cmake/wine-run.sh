#!/bin/sh
# wine-run.sh PREFIX PROGRAM [ARGS...]
# Runs a Windows program under Wine in the given private prefix, quietly, so
# runs never depend on the machine's home directory or print Wine's chatter.
WINEPREFIX=$(realpath -m "$1")
shift
export WINEPREFIX
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
for w in wine64 wine /usr/lib/wine/wine64; do
  if command -v "$w" >/dev/null 2>&1; then exec "$w" "$@"; fi
done
echo "wine-run.sh: no wine64 found" >&2
exit 127
