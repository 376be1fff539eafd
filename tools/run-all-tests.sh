#!/usr/bin/env bash
# Installs what the tests need (only what is missing) and runs every test leg:
#   linux       the layering holds (tools/layers.py), the product code is
#               formatted (tools/format.sh --check), the mutant table still
#               applies (tools/mutate.sh --check), the API
#               reference builds without a warning (tools/docs.sh), then the
#               native optimised build, whole suite
#   linux-asan  AddressSanitizer + UndefinedBehaviorSanitizer build, whole suite
#   linux-tsan  ThreadSanitizer build, whole suite
#   windows     mingw-w64 cross build, whole suite under Wine
#   fuzz        libFuzzer smoke run of every file reader, device-reply parser and device protocol (FUZZ_SECONDS each, default 20)
# Ends with one summary line "legs: N passed, M failed".
set -u
cd "$(dirname "$0")/.."
root=$(pwd)

packages=(cmake g++ make googletest libgtest-dev libgmock-dev libbenchmark-dev
          g++-mingw-w64-x86-64-posix wine64 clang libclang-rt-14-dev python3 doxygen clang-format
          zlib1g-dev libz-mingw-w64-dev libstb-dev pybind11-dev python3-dev python3-numpy python3-pytest)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "== installing: ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null || { echo "package installation failed"; echo "legs: 0 passed, 1 failed"; exit 1; }
fi

passed=0
failed=0
failed_legs=()
leg() {
  local name=$1
  shift
  echo
  echo "== leg $name"
  local t0=$SECONDS
  if "$@"; then
    passed=$((passed + 1))
    echo "== leg $name passed ($((SECONDS - t0)) s)"
  else
    failed=$((failed + 1))
    failed_legs+=("$name")
    echo "== leg $name FAILED ($((SECONDS - t0)) s)"
  fi
}

# Build output goes to a log, shown only when the build fails.
build() {
  local preset=$1
  shift
  local log=build/$preset-build.log
  mkdir -p build
  if ! { cmake --preset "$preset" && cmake --build --preset "$preset" "$@"; } >"$log" 2>&1; then
    tail -n 60 "$log"
    return 1
  fi
}

build_and_test() {
  build "$1" && ctest --preset "$1"
}

# The Windows leg: the private Wine prefix is made ready before the tests
# start, and a run that hangs under Wine (seen rarely on a loaded machine,
# cause not yet found) is stopped by the test's time limit and tried once more.
windows_leg() {
  build windows || return 1
  local prefix
  prefix=$(pwd)/build/windows/wineprefix
  timeout 300 cmake/wine-run.sh "$prefix" wineboot --init >/dev/null 2>&1 || true
  WINEPREFIX=$prefix timeout 300 /usr/lib/wine/wineserver -w 2>/dev/null || true
  local rc=0
  ctest --preset windows --repeat until-pass:2 || rc=$?
  WINEPREFIX=$prefix /usr/lib/wine/wineserver -k 2>/dev/null || true
  return "$rc"
}

# Runs one fuzz target for FUZZ_SECONDS (default 20) on its seed corpus.
fuzz_run() {
  local target=$1 corpus=$2
  local seconds=${FUZZ_SECONDS:-20}
  local rc=0
  echo "-- $target"
  "build/fuzz/fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 "$corpus" \
    >"build/fuzz/$target.log" 2>&1 || rc=$?
  grep -E 'stat::number_of_executed_units|ERROR|SUMMARY' "build/fuzz/$target.log" || true
  [ "$rc" -eq 0 ] || tail -n 60 "build/fuzz/$target.log"
  return "$rc"
}

# Every target has a kept corpus fuzz/corpus/<name> (target fuzz_<name>) and
# starts from a copy of it, so the fuzzer's finds stay out of the source tree.
fuzz_smoke() {
  local dir=build/fuzz name names=() targets=()
  for name in fuzz/corpus/*/; do
    name=$(basename "$name")
    names+=("$name")
    targets+=("fuzz_$name")
  done
  build fuzz --target "${targets[@]}" mkdatafile || return 1
  for name in "${names[@]}"; do
    rm -rf "$dir/corpus-$name" && cp -r "fuzz/corpus/$name" "$dir/corpus-$name" || return 1
  done
  # More seeds for the data file readers from the generator: both header
  # lengths, windows, buckets, invalid pixels; the ASCII seeds are the same
  # data sets written by the library. And the bundled example files whole.
  local gen="$dir/mkdatafile" bin="$dir/corpus-binary_reader" asc="$dir/corpus-ascii_reader"
  "$gen" -w 3 -h 2 "$bin/small.dat" &&
    "$gen" -w 5 -h 4 -x 2 -y 3 -b 2 -l "$bin/long-buckets.dat" &&
    "$gen" -w 4 -h 4 -i 100 "$bin/all-invalid.dat" &&
    "$gen" -w 8 -h 1 -b 1 -i 0 -s 9 "$bin/one-row.dat" &&
    "$gen" -w 3 -h 2 -A "$asc/small.asc" &&
    "$gen" -w 5 -h 4 -x 2 -y 3 -b 2 -l -A "$asc/long-buckets.asc" &&
    "$gen" -w 11 -h 1 -i 0 -A "$asc/one-row.asc" || return 1
  cp examples/sample.dat "$bin/" && cp examples/calibration/*.cal "$dir/corpus-calibration_reader/" || return 1
  local rc=0
  for name in "${names[@]}"; do
    fuzz_run "fuzz_$name" "$dir/corpus-$name" || rc=1
  done
  return "$rc"
}

# The mutant table is checked here because it is cheap: a row whose text no
# longer occurs exactly once fails the leg instead of silently dropping out.
# So is the API reference: a public name without its documentation comment
# fails the leg. And the layering: a new circle between product folders, a
# product file on sim/ or tests/, or an oversized source fails the leg; so
# does product code not in the house format.
linux_leg() {
  python3 tools/layers.py --quiet && tools/format.sh --check && tools/mutate.sh --check &&
    tools/docs.sh && build_and_test linux
}

leg linux linux_leg
leg linux-asan build_and_test linux-asan
# The thread soaks run longer where ThreadSanitizer watches them.
tsan_leg() {
  FELBRIN_SOAK_MS=3000 build_and_test linux-tsan
}

leg linux-tsan tsan_leg
leg windows windows_leg
leg fuzz fuzz_smoke

echo
[ ${#failed_legs[@]} -gt 0 ] && echo "failed legs: ${failed_legs[*]}"
echo "legs: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
