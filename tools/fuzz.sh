#!/usr/bin/env bash
# Builds the libFuzzer targets (preset "fuzz": clang, AddressSanitizer,
# UndefinedBehaviorSanitizer) and runs each one for a bounded time, starting
# from its seed corpus in fuzz/corpus/<target>. Exits non-zero on any finding:
# a crash, a sanitizer report, a leak, a broken property, or an input that
# runs longer than 10 s. Findings are saved under build/fuzz/artifacts/.
#
#   tools/fuzz.sh [seconds-per-target] [target ...]
#
# Targets: config_reader download_entry error_scan command_line (all by default).
set -uo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-20}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(config_reader download_entry error_scan command_line)

# Inputs long enough to cross the readers' limits: 1023 characters of a
# configuration line, 4095 of an error-file line, the 64 KiB read buffer,
# and 2047 characters of a joined command line.
declare -A max_len=([config_reader]=70000 [download_entry]=4096 [error_scan]=70000
                    [command_line]=6000)

cmake --preset fuzz >/dev/null || { echo "fuzz: configure failed" >&2; exit 1; }
cmake --build --preset fuzz || { echo "fuzz: build failed" >&2; exit 1; }

# Scratch files of the targets go to memory when it can take them.
[ -w /dev/shm ] && export TMPDIR=/dev/shm

status=0
summary=()
for target in "${targets[@]}"; do
  binary=build/fuzz/fuzz/fuzz_$target
  seeds=fuzz/corpus/$target
  [ -x "$binary" ] && [ -d "$seeds" ] || { echo "fuzz: no target '$target'" >&2; exit 1; }
  # New inputs go to the first directory, outside the tree; the seeds stay.
  corpus=build/fuzz/corpus/$target
  artifacts=build/fuzz/artifacts/$target
  log=build/fuzz/logs/$target.log
  mkdir -p "$corpus" "$artifacts" "$(dirname "$log")"

  echo "fuzz: $target for ${seconds}s"
  "$binary" -max_total_time="$seconds" -max_len="${max_len[$target]}" -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$artifacts/" \
    "$corpus" "$seeds" >"$log" 2>&1
  rc=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1 | cut -d' ' -f2)
  if [ $rc -eq 0 ]; then
    summary+=("$(printf '  %-16s passed  %10s runs, coverage %s' "$target" "${runs:-?}" "${cov:-?}")")
  else
    status=1
    summary+=("$(printf '  %-16s FAILED  exit %s, log %s' "$target" "$rc" "$log")")
    grep -E 'PROPERTY BROKEN|ERROR: |SUMMARY: |Test unit written to' "$log" | head -n 20 | sed 's/^/    /'
    sed -n '/PROPERTY BROKEN/,/^$/p' "$log" | head -n 40 | sed 's/^/    /'
  fi
done

echo "fuzz summary (${seconds}s per target):"
printf '%s\n' "${summary[@]}"
exit $status
