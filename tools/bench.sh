#!/usr/bin/env bash
# Cost benchmarks: builds the preset "bench" (Release, Google Benchmark) and
# runs them side by side, then prints each figure and ratio on one line: the
# idle schedule call against a plain C read of the same file, complete reads
# of 100 and 10,000 entries against reading their bytes (ns per line and the
# growth between them), and the preparation of one entry.
#
#   tools/bench.sh [google-benchmark options, e.g. --benchmark_filter=Idle]
set -uo pipefail
cd "$(dirname "$0")/.."

cmake --preset bench >/dev/null || { echo "bench: configure failed" >&2; exit 1; }
cmake --build --preset bench || { echo "bench: build failed" >&2; exit 1; }
exec build/bench/bench/cost_bench "$@"
