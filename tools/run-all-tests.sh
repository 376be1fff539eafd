#!/usr/bin/env bash
# Installs what the tests need (only what is missing) and runs every test leg:
#   linux       the mutant table still applies (tools/mutate.sh --check), then the
#               native optimised build, whole suite
#   linux-asan  AddressSanitizer + UndefinedBehaviorSanitizer build, whole suite
#   linux-tsan  ThreadSanitizer build, whole suite
#   windows     mingw-w64 cross build, whole suite under Wine
#   fuzz        libFuzzer smoke run of every file reader and device-reply parser (FUZZ_SECONDS each, default 30)
# Ends with one summary line "legs: N passed, M failed".
set -u
cd "$(dirname "$0")/.."
root=$(pwd)

packages=(cmake g++ make googletest libgtest-dev libgmock-dev libbenchmark-dev
          g++-mingw-w64-x86-64-posix wine64 clang libclang-rt-14-dev python3)
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

# Runs one fuzz target for FUZZ_SECONDS (default 30) on its seed corpus.
fuzz_run() {
  local target=$1 corpus=$2
  local seconds=${FUZZ_SECONDS:-30}
  local rc=0
  echo "-- $target"
  "build/fuzz/fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 "$corpus" \
    >"build/fuzz/$target.log" 2>&1 || rc=$?
  grep -E 'stat::number_of_executed_units|ERROR|SUMMARY' "build/fuzz/$target.log" || true
  [ "$rc" -eq 0 ] || tail -n 60 "build/fuzz/$target.log"
  return "$rc"
}

fuzz_smoke() {
  local dir=build/fuzz
  build fuzz --target fuzz_binary_reader fuzz_ascii_reader fuzz_calibration_reader fuzz_ramp_reader \
    fuzz_ramp_config_reader fuzz_wave_monitor_reply fuzz_motion_config_reader fuzz_lcdmi_config_reader \
    fuzz_pairs_reader fuzz_lumen_materials_reader fuzz_enc_zoom_cal_reader fuzz_pifoc_info_reader fuzz_cam_bad_reader fuzz_acq_scenario_reader mkdatafile || return 1
  rm -rf "$dir/corpus" "$dir/corpus-ascii" "$dir/corpus-cal" &&
    mkdir -p "$dir/corpus" "$dir/corpus-ascii" "$dir/corpus-cal"
  # Seeds from the generator: both header lengths, windows, buckets, invalid
  # pixels; the ASCII seeds are the same data sets written by the library.
  local gen="$dir/mkdatafile"
  "$gen" -w 3 -h 2 "$dir/corpus/small.dat" &&
    "$gen" -w 5 -h 4 -x 2 -y 3 -b 2 -l "$dir/corpus/long-buckets.dat" &&
    "$gen" -w 4 -h 4 -i 100 "$dir/corpus/all-invalid.dat" &&
    "$gen" -w 8 -h 1 -b 1 -i 0 -s 9 "$dir/corpus/one-row.dat" &&
    "$gen" -w 3 -h 2 -A "$dir/corpus-ascii/small.asc" &&
    "$gen" -w 5 -h 4 -x 2 -y 3 -b 2 -l -A "$dir/corpus-ascii/long-buckets.asc" &&
    "$gen" -w 11 -h 1 -i 0 -A "$dir/corpus-ascii/one-row.asc" || return 1
  cp examples/sample.dat fuzz/corpus/binary_reader/* "$dir/corpus/"
  cp fuzz/corpus/ascii_reader/* "$dir/corpus-ascii/"
  # Calibration seeds: whole files as the writer writes them, and the kept
  # corpus of earlier long runs (inputs that once failed among them).
  cp examples/calibration/*.cal fuzz/corpus/calibration_reader/* "$dir/corpus-cal/"
  # Ramp seeds: SWLI, PMI, BTW and point-less ramps as the writer writes them,
  # copied so the fuzzer's finds stay out of the source tree.
  rm -rf "$dir/corpus-ramp" && cp -r fuzz/corpus/ramp_reader "$dir/corpus-ramp" || return 1
  # Ramp configuration seeds: the writer's output (LF and CR LF) and the sample line.
  rm -rf "$dir/corpus-ramp-cfg" && cp -r fuzz/corpus/ramp_config_reader "$dir/corpus-ramp-cfg" || return 1
  # Wave monitor replies: kind, respLen and item size, then the line.
  rm -rf "$dir/corpus-wm" && cp -r fuzz/corpus/wave_monitor_reply "$dir/corpus-wm" || return 1
  # Motion configuration seeds: two axes with a copy, gains and units in a
  # CR LF file, and every encoder conversion type.
  rm -rf "$dir/corpus-mc" && cp -r fuzz/corpus/motion_config_reader "$dir/corpus-mc" || return 1
  # LCDMI configuration and coordinate pair seeds: the examples, CR LF files,
  # and lines at the edges of what the readers accept.
  rm -rf "$dir/corpus-lcdmi" && cp -r fuzz/corpus/lcdmi_config_reader "$dir/corpus-lcdmi" || return 1
  rm -rf "$dir/corpus-pairs" && cp -r fuzz/corpus/pairs_reader "$dir/corpus-pairs" || return 1
  # Lumen materials seeds: the example file, a CR LF file and one of every kind of bad line.
  rm -rf "$dir/corpus-lumen" && cp -r fuzz/corpus/lumen_materials_reader "$dir/corpus-lumen" || return 1
  # Zoom calibration seeds: the example, a CR LF file and refused pairs.
  rm -rf "$dir/corpus-zoom" && cp -r fuzz/corpus/enc_zoom_cal_reader "$dir/corpus-zoom" || return 1
  # Pifoc info seeds: the example, a CR LF file, the integer limits and only comments.
  rm -rf "$dir/corpus-pifoc" && cp -r fuzz/corpus/pifoc_info_reader "$dir/corpus-pifoc" || return 1
  # Camera bad-pixel seeds: the example, a CR LF file, a point without a header, a zero-size frame.
  rm -rf "$dir/corpus-bpix" && cp -r fuzz/corpus/cam_bad_reader "$dir/corpus-bpix" || return 1
  # Stand-in acquisition scenarios: the example and a CR LF file with missing names and counts.
  rm -rf "$dir/corpus-acq" && cp -r fuzz/corpus/acq_scenario_reader "$dir/corpus-acq" || return 1
  fuzz_run fuzz_binary_reader "$dir/corpus" && fuzz_run fuzz_ascii_reader "$dir/corpus-ascii" &&
    fuzz_run fuzz_calibration_reader "$dir/corpus-cal" && fuzz_run fuzz_ramp_reader "$dir/corpus-ramp" &&
    fuzz_run fuzz_ramp_config_reader "$dir/corpus-ramp-cfg" && fuzz_run fuzz_wave_monitor_reply "$dir/corpus-wm" &&
    fuzz_run fuzz_motion_config_reader "$dir/corpus-mc" && fuzz_run fuzz_lcdmi_config_reader "$dir/corpus-lcdmi" &&
    fuzz_run fuzz_pairs_reader "$dir/corpus-pairs" && fuzz_run fuzz_lumen_materials_reader "$dir/corpus-lumen" &&
    fuzz_run fuzz_enc_zoom_cal_reader "$dir/corpus-zoom" && fuzz_run fuzz_pifoc_info_reader "$dir/corpus-pifoc" &&
    fuzz_run fuzz_cam_bad_reader "$dir/corpus-bpix" && fuzz_run fuzz_acq_scenario_reader "$dir/corpus-acq"
}

# The mutant table is checked here because it is cheap: a row whose text no
# longer occurs exactly once fails the leg instead of silently dropping out.
linux_leg() {
  tools/mutate.sh --check && build_and_test linux
}

leg linux linux_leg
leg linux-asan build_and_test linux-asan
leg linux-tsan build_and_test linux-tsan
leg windows windows_leg
leg fuzz fuzz_smoke

echo
[ ${#failed_legs[@]} -gt 0 ] && echo "failed legs: ${failed_legs[*]}"
echo "legs: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
