#!/bin/bash
# Runs the libFuzzer targets of fuzz/ from a fuzzing build.
#   fuzz.sh BUILD bounded   each target over its seed corpus plus a bounded
#                           number of new inputs (make test)
#   fuzz.sh BUILD long      each target for FUZZ_SECONDS (default 600); new
#                           corpus entries and crashes are kept in
#                           fuzz-findings/<target>/ (make fuzz)
# FUZZ_TARGETS limits the run to some targets (names without "fuzz_").
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=$1
MODE=$2
TARGETS=${FUZZ_TARGETS:-dom_source request settings_files registry_file resource_library request_helpers}
status=0
for t in $TARGETS; do
  bin="$BUILD/fuzz/fuzz_$t"
  seeds="fuzz/corpus/$t"
  # Hostile pages must be large to show time that grows faster than the page.
  max_len=65536
  [[ $t == dom_source ]] && max_len=262144
  if [[ $MODE == long ]]; then
    out="fuzz-findings/$t"
    mkdir -p "$out/corpus" "$out/crashes"
    args=(-max_total_time="${FUZZ_SECONDS:-600}" -artifact_prefix="$out/crashes/" "$out/corpus" "$seeds")
  else
    out="$BUILD/fuzz-out/$t"
    mkdir -p "$out/corpus" "$out/crashes"
    args=(-runs="${FUZZ_RUNS:-3000}" -artifact_prefix="$out/crashes/" "$out/corpus" "$seeds")
  fi
  echo "== fuzz_$t (${args[0]})"
  if ! "$bin" -max_len=$max_len -timeout=30 -rss_limit_mb=4096 -print_final_stats=1 "${args[@]}" \
      >"$out/log.txt" 2>&1; then
    echo "fuzz_$t FAILED; its log: $out/log.txt; the input: $out/crashes/"
    tail -n 40 "$out/log.txt"
    status=1
  else
    grep -E '^stat::number_of_executed_units|^stat::new_units_added' "$out/log.txt" | tr '\n' ' '
    echo
  fi
done
exit $status
