#!/bin/bash
# Runs the libFuzzer targets of fuzz/ from a fuzzing build.
#   fuzz.sh BUILD bounded   each target over its seed corpus plus a bounded
#                           number of new inputs (FUZZ_RUNS, default 3000),
#                           one after the other; fuzz_dom_source, whose pages
#                           are large and slow, for FUZZ_DOM_SOURCE_SECONDS
#                           (default 300) instead (make test)
#   fuzz.sh BUILD long      every target at once, one process each, for
#                           FUZZ_SECONDS (default 600); new corpus entries and
#                           crashes are kept in fuzz-findings/<target>/
#                           (make fuzz)
# FUZZ_TARGETS limits the run to some targets (names without "fuzz_").
# An input a target stops on belongs in fuzz/corpus/<target>/ from then on,
# so that every later run replays it.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=$1
MODE=$2
TARGETS=${FUZZ_TARGETS:-dom_source request settings_files registry_file resource_library request_helpers}

# Sets out and args for target $1.
prepare() {
  local t=$1
  seeds="fuzz/corpus/$t"
  # Hostile pages must be large to show time that grows faster than the page.
  max_len=65536
  [[ $t == dom_source ]] && max_len=262144
  if [[ $MODE == long ]]; then
    out="fuzz-findings/$t"
    bound=(-max_total_time="${FUZZ_SECONDS:-600}")
  else
    out="$BUILD/fuzz-out/$t"
    bound=(-runs="${FUZZ_RUNS:-3000}")
    [[ $t == dom_source ]] && bound=(-max_total_time="${FUZZ_DOM_SOURCE_SECONDS:-300}")
  fi
  mkdir -p "$out/corpus" "$out/crashes"
  args=(-max_len=$max_len -timeout=30 -rss_limit_mb=4096 -print_final_stats=1 "${bound[@]}"
        -artifact_prefix="$out/crashes/" "$out/corpus" "$seeds")
}

# Reports how target $1 ended, its exit status being $2; fails when it failed.
report() {
  local t=$1 rc=$2 out=$3
  if [[ $rc -ne 0 ]]; then
    echo "fuzz_$t FAILED; its log: $out/log.txt; the input: $out/crashes/ (add it to fuzz/corpus/$t/)"
    tail -n 40 "$out/log.txt"
    return 1
  fi
  echo "fuzz_$t: $(grep -E '^stat::number_of_executed_units|^stat::new_units_added' "$out/log.txt" | tr -s '\n ' '  ')"
}

status=0
if [[ $MODE == long ]]; then
  # Side by side: the run takes FUZZ_SECONDS, not that once per target.
  declare -A pids outs
  for t in $TARGETS; do
    prepare "$t"
    echo "== fuzz_$t (${bound[0]}) started"
    "$BUILD/fuzz/fuzz_$t" "${args[@]}" >"$out/log.txt" 2>&1 &
    pids[$t]=$!
    outs[$t]=$out
  done
  for t in $TARGETS; do
    rc=0
    wait "${pids[$t]}" || rc=$?
    report "$t" $rc "${outs[$t]}" || status=1
  done
else
  for t in $TARGETS; do
    prepare "$t"
    echo "== fuzz_$t (${bound[0]})"
    rc=0
    "$BUILD/fuzz/fuzz_$t" "${args[@]}" >"$out/log.txt" 2>&1 || rc=$?
    report "$t" $rc "$out" || status=1
  done
fi
exit $status
