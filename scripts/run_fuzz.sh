#!/usr/bin/env bash
# Builds the fuzz targets (clang 16, libFuzzer, ASan + UBSan) into build-fuzz/
# and runs each one in turn; fails on the first crash, leak, sanitizer report
# or broken check.
#
#   scripts/run_fuzz.sh [SECONDS]   each target for SECONDS (default 5)
#   scripts/run_fuzz.sh --runs N    each target for N executions, e.g. 10000000
#                                   (bounded by QX_FUZZ_MAX_SECONDS per target, default 3600)
#
# Seeds come from fuzz/corpus/<target>/ and are never written to; what a run
# learns is kept in build-fuzz/corpus/<target>/, and a failing input is saved
# as build-fuzz/artifacts/<target>-crash-*.
set -euo pipefail
cd "$(dirname "$0")/.."

mode=time
seconds=5
runs=0
case "${1:-}" in
  "") ;;
  --runs)
    mode=runs
    runs="${2:?--runs needs a number}"
    ;;
  *) seconds="$1" ;;
esac
[[ "$seconds" =~ ^[0-9]+$ && "$runs" =~ ^[0-9]+$ ]] || { echo "usage: $0 [SECONDS] | --runs N" >&2; exit 2; }
max_seconds="${QX_FUZZ_MAX_SECONDS:-3600}"

scripts/install_deps.sh

build=build-fuzz
# fuzz/CMakePresets.json: clang 16, into build-fuzz/.
cmake -S fuzz --preset fuzz >/dev/null
cmake --build "$build" -j "${QX_FUZZ_JOBS:-4}"

targets=(fuzz_from_buffer fuzz_codec_unpack fuzz_typed_unpack fuzz_string_from_bytes fuzz_debug_text)
mkdir -p "$build/artifacts" "$build/logs"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

summary=()
status=0
for target in "${targets[@]}"; do
  work="$build/corpus/$target"
  log="$build/logs/$target.log"
  mkdir -p "$work"
  if [[ $mode == runs ]]; then
    limits=(-runs="$runs" -max_total_time="$max_seconds")
  else
    limits=(-max_total_time="$seconds")
  fi
  echo "== $target (${limits[*]})"
  # New inputs go to the first directory only, so the checked-in seeds stay as they are.
  if ! "$build/$target" "${limits[@]}" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$build/artifacts/$target-" "$work" "fuzz/corpus/$target" >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "FAILED: $target (log: $log)"
    status=1
    break
  fi
  done_runs=$(sed -n 's/^Done \([0-9]*\) runs in \([0-9]*\) second.*/\1 runs in \2 s/p' "$log" | tail -n 1)
  summary+=("$target: ${done_runs:-?}")
  if [[ $mode == runs ]]; then
    count=${done_runs%% *}
    if [[ -z "$count" || "$count" -lt "$runs" ]]; then
      echo "FAILED: $target stopped after ${count:-0} of $runs runs (time bound ${max_seconds} s)"
      status=1
      break
    fi
  fi
done

printf '%s\n' "${summary[@]}"
if ((status == 0)); then
  echo "fuzzing passed: ${#targets[@]} targets, no failure"
fi
exit "$status"
