#!/usr/bin/env bash
# The performance figures of the README's table, each workload in a process of
# its own (a heap left fragmented by one workload slows the next), medians of
# three; then, with --callgrind, instructions and last-level cache misses per
# change of the VPN churn (callgrind's cache simulator with a 32 MB last-level
# cache: steadier than timings on a shared machine).
#
# Usage: scripts/bench-table.sh [--callgrind] [BENCH_BINARY]
#   BENCH_BINARY defaults to build/bench/mcinject_bench (a Release build).
set -euo pipefail
callgrind=0
if [ "${1:-}" = --callgrind ]; then
  callgrind=1
  shift
fi
bench=${1:-build/bench/mcinject_bench}
[ -x "$bench" ] || { echo "no benchmark binary at $bench (cmake --build build --target mcinject_bench)" >&2; exit 2; }

run() {  # run FILTER: the median line(s) of one workload
  "$bench" --benchmark_filter="$1" --benchmark_repetitions=3 --benchmark_report_aggregates_only=true 2>/dev/null |
    grep -E '_median|iterations:1 ' || echo "$1: no result"
}

for n in 4096 65536 262144; do run "VpnChurnSingle/$n/64\$"; done
for n in 4096 65536 262144; do run "VpnChurnBurst/$n/64\$"; done
run 'VpnConvergence/65536/64/'
run 'L3Startup/65536/'
run 'VpnMemory/65536/64/'

[ "$callgrind" = 1 ] || exit 0
command -v valgrind >/dev/null || { echo "valgrind is missing" >&2; exit 2; }
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
for n in 4096 65536 262144; do
  valgrind --tool=callgrind --cache-sim=yes --LL=33554432,16,64 --toggle-collect='*timedChurn*' \
    --callgrind-out-file="$out/cg.$n" "$bench" --benchmark_filter="VpnChurnBurst/$n/64\$" \
    --benchmark_min_time=0.01 >/dev/null 2>&1
  # One timed iteration of 1,000 changes: the totals over 1,000.
  callgrind_annotate --show-percs=no "$out/cg.$n" 2>/dev/null | awk -v n="$n" '
    /PROGRAM TOTALS/ { gsub(",", ""); ir = $1; miss = $7 + $8 + $9;
      printf "churn burst %7d mappings: %5.0f instructions, %5.1f last-level misses per change\n", n, ir / 1000, miss / 1000 }'
done
