#!/usr/bin/env bash
# Wine soak: builds the 64-bit kelvoran.exe and runs it as a real service under
# Wine with 20 download entries and "intv=5" against a loopback HTTP server,
# for 10 minutes or the number given. Prints the runs, the entries handled and
# the service's resident memory after the first run and at the end; exits
# non-zero when a run missed an entry or the memory grew by more than 256 KiB.
#
#   tools/soak-wine.sh [--minutes N]
set -uo pipefail
cd "$(dirname "$0")/.."
minutes=10
while [ $# -gt 0 ]; do
  case $1 in
    --minutes) minutes=${2:?--minutes needs a number}; shift 2 ;;
    --minutes=*) minutes=${1#--minutes=}; shift ;;
    *) echo "usage: tools/soak-wine.sh [--minutes N]" >&2; exit 2 ;;
  esac
done

curl_exe=$(tools/build-windows-curl.sh | tail -n 1) || { echo "soak: building curl.exe failed" >&2; exit 1; }
export KELVORAN_CURL_EXE=$curl_exe
cmake --preset windows >/dev/null || { echo "soak: configure failed" >&2; exit 1; }
cmake --build --preset windows --target kelvoran || { echo "soak: build failed" >&2; exit 1; }
echo "soak: $minutes minutes"
exec python3 -B tools/soak_wine.py --exe build/windows/kelvoran.exe --curl "$curl_exe" --minutes "$minutes"
