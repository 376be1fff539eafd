#!/usr/bin/env bash
# Builds the packages into build/packages/ (cmake/packaging.cmake):
#   felbrin_<version>-1_amd64.deb, felbrin-dev-sim_<version>-1_amd64.deb and, where
#       the Python module is built, python3-felbrin_<version>-1_amd64.deb
#       from the package-linux preset (optimised, no tests)
#   felbrin-<version>-win64.zip, felbrin-dev-sim-<version>-win64.zip
#       from the package-windows preset (mingw-w64 cross build)
# then checks each pair as the tests do (tests/app/installed_package.cmake):
# unpacked, the example host program built against it and run, mapconv run
# on the sample (the Windows one under Wine), the stand-ins in their own
# folder of the development package only. --no-check skips the checks.
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
check=1
[ "${1:-}" = "--no-check" ] && check=0

out=build/packages
mkdir -p "$out"
rm -f "$out"/felbrin*.deb "$out"/python3-felbrin*.deb "$out"/felbrin*.zip

for preset in package-linux package-windows; do
  echo "== $preset"
  log=build/$preset-build.log
  if ! { cmake --preset "$preset" && nice -n 10 cmake --build --preset "$preset" -j2; } >"$log" 2>&1; then
    tail -n 60 "$log"
    exit 1
  fi
  cpack --preset "$preset" >>"$log" 2>&1 || { tail -n 30 "$log"; exit 1; }
done
rm -rf "$out/_CPack_Packages"
ls -l "$out"

[ "$check" -eq 1 ] || exit 0
# The same check as the tests' "packages": name, generator, then the
# platform's settings.
check_packages() {
  local preset=$1 generator=$2
  shift 2
  echo "== checking the $preset packages"
  cmake -DGENERATOR="$generator" -DCPACK=cpack -DBUILD_DIR="$root/build/$preset" \
    -DCONSUMER="$root/examples/consumer" -DSAMPLE="$root/examples/sample.dat" \
    -DEXPECTED="$root/examples/sample.txt" -DWORK="$root/build/$preset/package-check" \
    "-DSTANDINS=TrelCANopen;MotionWrapperInterface;FxAcq;fxsim_ld" "$@" \
    -P "$root/tests/app/installed_package.cmake"
}
check_packages package-linux DEB -DCXX=c++ -DLIBRARY_PREFIX=lib -DLIBRARY_SUFFIX=.so -DCRLF=0
prefix=$root/build/package-windows/wineprefix
check_packages package-windows ZIP -DTOOLCHAIN="$root/cmake/mingw-w64-x86_64.cmake" \
  "-DEMULATOR=$root/cmake/wine-run.sh;$prefix" -DEXECUTABLE_SUFFIX=.exe -DLIBRARY_SUFFIX=.dll \
  -DCRLF=1
WINEPREFIX=$prefix /usr/lib/wine/wineserver -k 2>/dev/null || true
echo "== packages built and checked in $out"
