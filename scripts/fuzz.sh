#!/usr/bin/env bash
# Builds the libFuzzer harnesses with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer into build-fuzz, writes a seed corpus of genuine inputs
# and runs each harness for a number of executions or seconds.
#
#   scripts/fuzz.sh [--runs N] [--seconds S] [--parallel P] [--jobs J] [target ...]
#
# Targets: arith_block, connectivity, static_decode, geometry_decode, obj_reader,
# animated_decode, animated_geometry_decode (default: all, in this order). A harness
# stops after N executions or S seconds, whichever comes first (default: 1000000
# executions); --parallel runs up to P targets at once (default 1), --jobs runs J
# processes of each target that share its corpus, each with that limit, and reports
# the sum of their executions (default 1; P x J cores in all). Each target keeps its
# growing corpus in build-fuzz/corpus/<target>/ and writes a crashing, hanging or
# over-allocating input to build-fuzz/artifacts/<target>/; such an input, once fixed,
# belongs in tests/data/bad/<target>/, which also seeds the next run. The log of a
# process is build-fuzz/logs/<target>.log, or <target>.<j>.log with several jobs. The
# exit status is 1 when any harness found a fault.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build-fuzz

# One fuzzing process of target $1 writing the log $2; its exit status.
run_job() {
  local t=$1 log=$2
  # -close_fd_mask=1: the geometry decoders print the vertex count on stdout.
  # -rss_limit_mb also bounds every single allocation, so an allocation sized by a
  # forged count is reported; -timeout reports a hang.
  "$build/${t}_fuzz" "$build/corpus/$t" "$build/seeds/$t" "tests/data/bad/$t" "${limit[@]}" \
    -rss_limit_mb=2048 -timeout=10 -close_fd_mask=1 -print_final_stats=1 \
    -artifact_prefix="$build/artifacts/$t/" >"$log" 2>&1
}

run_target() {
  local t=$1
  mkdir -p "$build/corpus/$t" "$build/artifacts/$t" "$build/logs" "tests/data/bad/$t"
  local logs=() pids=() status=0
  if [[ $jobs -eq 1 ]]; then
    logs=("$build/logs/$t.log")
  else
    for ((j = 0; j < jobs; j++)); do logs+=("$build/logs/$t.$j.log"); done
  fi
  for log in "${logs[@]}"; do
    run_job "$t" "$log" &
    pids+=($!)
  done
  for pid in "${pids[@]}"; do wait "$pid" || status=$?; done
  local runs
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "${logs[@]}" | awk '{ n += $1 } END { print n }')
  if [[ $status -eq 0 ]]; then
    echo "$t: ${runs:-?} executions, no fault"
  else
    echo "$t: FAULT after ${runs:-?} executions, see ${logs[*]} and $build/artifacts/$t/"
  fi
  return "$status"
}

# The whole run is one function, read before it starts: a campaign takes hours, and
# bash would otherwise read an edited script from the middle.
main() {
  limit=()
  local parallel=1 targets=()
  jobs=1
  while [[ $# -gt 0 ]]; do
    case "$1" in
      --runs) limit+=(-runs="$2"); shift 2 ;;
      --seconds) limit+=(-max_total_time="$2"); shift 2 ;;
      --parallel) parallel="$2"; shift 2 ;;
      --jobs) jobs="$2"; shift 2 ;;
      arith_block | connectivity | static_decode | geometry_decode | obj_reader | animated_decode | \
        animated_geometry_decode) targets+=("$1"); shift ;;
      *) echo "usage: $0 [--runs N] [--seconds S] [--parallel P] [--jobs J] [target ...]" >&2; exit 2 ;;
    esac
  done
  [[ ${#limit[@]} -gt 0 ]] || limit=(-runs=1000000)
  [[ ${#targets[@]} -gt 0 ]] ||
    targets=(arith_block connectivity static_decode geometry_decode obj_reader animated_decode animated_geometry_decode)

  ./scripts/install-deps.sh
  # clang with its sanitizer and libFuzzer runtimes, needed for fuzzing only.
  for p in clang libclang-rt-dev; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
      local sudo=""; [[ "$(id -u)" -ne 0 ]] && sudo=sudo
      $sudo apt-get update && $sudo apt-get install -y clang libclang-rt-dev
      break
    fi
  done

  CC=${CC:-clang} CXX=${CXX:-clang++} cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DMESHCODEC_FUZZ=ON -DMESHCODEC_BENCH=OFF >/dev/null
  cmake --build "$build" --parallel 2 --target make_fuzz_seeds "${targets[@]/%/_fuzz}"
  rm -rf "$build/seeds"
  "$build/make_fuzz_seeds" "$build/seeds" >/dev/null

  local failed=0 running=0
  for t in "${targets[@]}"; do
    if [[ $running -ge $parallel ]]; then
      wait -n || failed=1
      running=$((running - 1))
    fi
    run_target "$t" &
    running=$((running + 1))
  done
  while [[ $running -gt 0 ]]; do
    wait -n || failed=1
    running=$((running - 1))
  done
  return "$failed"
}

main "$@"; exit $?
