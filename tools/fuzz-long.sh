#!/usr/bin/env bash
# The fuzz targets for longer than the test command gives them: 600 s each by
# default, or the number of seconds given. Same build, corpus and artifacts
# as tools/fuzz.sh; the corpus learnt by earlier runs is kept in build/fuzz.
#
#   tools/fuzz-long.sh [seconds-per-target] [target ...]
set -uo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
shift || true
exec tools/fuzz.sh "$seconds" "$@"
