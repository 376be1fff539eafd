#!/bin/sh
# The COM ports of the serial tests: simulated devices on pseudo-terminals,
# linked into a Wine prefix as COM200, COM201 ... by simdev (tools/simdev.cpp).
# The set-up and clean-up tests of a CTest fixture run this script.
#
#   simcom.sh start SIMDEV PREFIX READY [--boot WINE_RUN] KIND...
#       Starts SIMDEV in the background with one device per KIND and returns
#       once READY lists the ports, so the links exist before any Wine process
#       of the tests starts. When PREFIX has no dosdevices folder yet, WINE_RUN
#       (cmake/wine-run.sh) boots it first; without --boot the folder is made
#       (a stand-in prefix for the Linux build).
#   simcom.sh stop READY
#       Stops the helper, which removes its links and READY. Fails when the
#       helper was no longer running, did not end cleanly (a sanitizer report
#       counts) or left a link behind.
#
# Next to READY: READY.pid (the helper's process id), READY.status (its exit
# status, written when it ends), READY.log (its output).
set -u

# True when the process is alive and is a simdev (not a reused id).
is_helper() {
  [ -n "$1" ] && kill -0 "$1" 2>/dev/null && grep -q simdev "/proc/$1/cmdline" 2>/dev/null
}

# Waits up to $2 tenths of a second for file $1 to exist and be non-empty.
wait_for_file() {
  n=0
  while [ ! -s "$1" ] && [ "$n" -lt "$2" ]; do
    sleep 0.1
    n=$((n + 1))
  done
  [ -s "$1" ]
}

# Stops the helper of READY (if one runs) and removes its files; returns 1
# when something was wrong.
stop_helper() {
  ready=$1
  rc=0
  pid=$(cat "$ready.pid" 2>/dev/null || true)
  links=$(awk 'NF >= 4 { print $4 }' "$ready" 2>/dev/null || true)
  if is_helper "$pid"; then
    kill -TERM "$pid"
    if ! wait_for_file "$ready.status" 200; then
      echo "simcom: the helper (pid $pid) did not stop; killing it"
      is_helper "$pid" && kill -KILL "$pid"
      rc=1
    fi
  elif [ -n "$pid" ] && [ ! -s "$ready.status" ]; then
    echo "simcom: the helper (pid $pid) is gone"
    rc=1
  fi
  status=$(cat "$ready.status" 2>/dev/null || true)
  if [ -n "$status" ] && [ "$status" != 0 ]; then
    echo "simcom: the helper ended with status $status"
    rc=1
  fi
  for link in $links; do
    if [ -L "$link" ]; then
      echo "simcom: $link was left behind"
      rm -f "$link"
      rc=1
    fi
  done
  if [ "$rc" != 0 ] && [ -s "$ready.log" ]; then
    echo "simcom: the helper's output:"
    cat "$ready.log"
  fi
  rm -f "$ready" "$ready.tmp" "$ready.pid" "$ready.status"
  return "$rc"
}

start_helper() {
  simdev=$1 prefix=$2 ready=$3
  shift 3
  boot=""
  if [ "${1:-}" = --boot ]; then
    boot=$2
    shift 2
  fi
  # A helper left by an interrupted run goes first.
  stop_helper "$ready" >/dev/null 2>&1
  rm -f "$ready.log"
  if [ ! -d "$prefix/dosdevices" ]; then
    if [ -n "$boot" ]; then
      # Made by Wine itself: a dosdevices folder made here would keep Wine
      # from adding its drive links to the new prefix.
      timeout 300 "$boot" "$prefix" wineboot --init </dev/null >/dev/null 2>&1
    else
      mkdir -p "$prefix/dosdevices"
    fi
  fi
  # No descriptor of the test's stays open in the background, or CTest would
  # wait for the helper to end. The subshell records how the helper ended.
  (
    "$simdev" --wine-prefix "$prefix" --ready "$ready" --no-stdin --lifetime 3600 "$@" &
    echo $! >"$ready.pid"
    wait $!
    echo $? >"$ready.status"
  ) </dev/null >"$ready.log" 2>&1 &
  n=0
  while [ ! -s "$ready" ] && [ ! -e "$ready.status" ] && [ "$n" -lt 300 ]; do
    sleep 0.1
    n=$((n + 1))
  done
  if [ -s "$ready" ] && wait_for_file "$ready.pid" 50; then
    cat "$ready"
    return 0
  fi
  echo "simcom: the helper did not come up"
  # stop_helper shows the helper's output when it finds a fault itself.
  stop_helper "$ready" && cat "$ready.log"
  return 1
}

case "${1:-}" in
  start) [ $# -ge 4 ] || { echo "usage: simcom.sh start SIMDEV PREFIX READY [--boot WINE_RUN] KIND..."; exit 2; }
         shift; start_helper "$@" ;;
  stop) [ $# -eq 2 ] || { echo "usage: simcom.sh stop READY"; exit 2; }
        stop_helper "$2" ;;
  *) echo "usage: simcom.sh start|stop ..."; exit 2 ;;
esac
