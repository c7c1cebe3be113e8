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

declare -A results
status=0
for preset in host host-asan windows; do
  step "tests: $preset"
  if ctest --preset "$preset" -j2; then
    results[$preset]=passed
  else
    results[$preset]=FAILED
    status=1
  fi
done

step "summary"
for preset in host host-asan windows; do
  printf '  %-10s %s\n' "$preset" "${results[$preset]}"
done
printf '  %-10s %s\n' win32 "built: build/win32/kelvoran.exe"
[ $status -eq 0 ] && echo "all tests passed" || echo "some tests FAILED"
exit $status
