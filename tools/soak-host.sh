#!/usr/bin/env bash
# Host soak: builds the preset "soak" (AddressSanitizer with its leak checker)
# and runs the schedule cycle 100,000 times (or the number given) against the
# fake platform's virtual clock and launcher. Prints the run count, the peak
# memory after 1,000 cycles and at the end, and the leak checks; exits
# non-zero on a leak, on memory growth over 64 KiB, or on a wrong run.
#
#   tools/soak-host.sh [cycles]
set -uo pipefail
cd "$(dirname "$0")/.."
cycles=${1:-100000}

cmake --preset soak >/dev/null || { echo "soak: configure failed" >&2; exit 1; }
cmake --build --preset soak || { echo "soak: build failed" >&2; exit 1; }
echo "soak: $cycles cycles"
exec build/soak/bench/soak_host "$cycles"
