#!/usr/bin/env bash
# Every test of the project, from a fresh Debian machine: installs what is
# missing, builds the Windows curl.exe once (cached outside the clone),
# configures and builds host, host-asan, windows and win32, runs the unit
# tests natively and under Wine, the Win32 backend and end-to-end tests under
# Wine, and prints one summary. Exits non-zero when anything fails.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD

step() { printf '\n==== %s\n' "$*"; }
die() { echo "run-tests: $*" >&2; exit 1; }

step "dependencies"
tools/install-deps.sh || die "installing dependencies failed"

step "Windows curl.exe"
curl_exe=$(tools/build-windows-curl.sh | tail -n 1) || die "building curl.exe failed"
[ -f "$curl_exe" ] || die "no curl.exe at '$curl_exe'"
export KELVORAN_CURL_EXE=$curl_exe
echo "$curl_exe"

for preset in host host-asan windows win32; do
  step "configure and build: $preset"
  cmake --preset "$preset" >/dev/null || die "configure $preset failed"
  cmake --build --preset "$preset" || die "build $preset failed"
done

# One Wine prefix for the unit and backend tests, made before anything runs
# in parallel so no two processes race to create it.
export WINEPREFIX=$root/build/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WINEPREFIX"
wineserver -p
wine cmd /c exit 0 >/dev/null 2>&1
trap 'WINEPREFIX=$root/build/wineprefix wineserver -k 2>/dev/null' EXIT

# Each suite runs whatever happened before; the summary lists them all.
names=()
outcomes=()
run_suite() {
  local name=$1
  shift
  step "tests: $name"
  names+=("$name")
  if "$@"; then outcomes+=(passed); else outcomes+=(FAILED); fi
}

run_suite host ctest --preset host -j2
run_suite host-asan ctest --preset host-asan -j2
run_suite windows ctest --preset windows -j2
bundle() {
  rm -f build/win32/kelvoran-*-win32.zip
  (cd build/win32 && cpack -G ZIP >/dev/null) &&
    python3 tests/bundle/check_bundle.py build/win32/kelvoran-*-win32.zip
}
run_suite "win32 bundle" bundle

# ---- Fuzzing (bounded) ------------------------------------------------------
# Builds the preset "fuzz" (clang, libFuzzer, ASan/UBSan) and runs every
# target for about 20 s from its seed corpus in fuzz/corpus/; any finding
# fails the suite. Longer runs: tools/fuzz-long.sh.
run_suite fuzz tools/fuzz.sh "${KELVORAN_FUZZ_SECONDS:-20}"
# ---- end of fuzzing ----------------------------------------------------------

step "summary"
status=0
for i in "${!names[@]}"; do
  printf '  %-14s %s\n' "${names[$i]}" "${outcomes[$i]}"
  [ "${outcomes[$i]}" = passed ] || status=1
done
[ $status -eq 0 ] && echo "all tests passed" || echo "some tests FAILED"
exit $status
