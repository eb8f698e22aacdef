#!/usr/bin/env bash
# Builds the libFuzzer targets in fuzz/ with clang (build-fuzz) and runs each
# for SECONDS (default 60), one after the other, each over its checked-in
# seeds (fuzz/corpus/<target>, only read) and a scratch corpus kept in
# build-fuzz/fuzz-work/<target>/corpus. Prints each target's executions and
# crashes and a table at the end; exits non-zero when the build fails or any
# target crashed, leaked, timed out or ran out of memory. A failing input is
# saved in build-fuzz/fuzz-work/<target>/ and can be rerun by passing it to
# build-fuzz/bin/fuzz_<target>.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]    e.g. scripts/fuzz.sh 5 profile
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true
build=build-fuzz
work=$build/fuzz-work

echo "== Building the fuzz targets (clang, $build)"
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQV_BUILD_FUZZ=ON -DQV_BUILD_PANEL_GUI=OFF -DQV_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target fuzz

if (($#)); then
  targets=("$@")
else
  targets=()
  for dir in fuzz/corpus/*/; do targets+=("$(basename "$dir")"); done
fi

# The targets' scratch files (the readers take paths) go to memory when
# it can be had.
scratch=$(mktemp -d "$([ -d /dev/shm ] && echo /dev/shm || echo "${TMPDIR:-/tmp}")/qv-fuzz.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

declare -A runs result
failed=0
for target in "${targets[@]}"; do
  mkdir -p "$work/$target/corpus"
  log=$work/$target/last-run.log
  echo "== Fuzzing $target for ${seconds}s"
  status=0
  # The readers that re-read the whole file for every value get smaller
  # files, so that their pace stays in the thousands per second.
  case $target in
    profile|calibration_ini) options=(-max_len=1024) ;;
    *) options=() ;;
  esac
  # Standard error of the target itself (the drivers' log entries) is
  # closed; libFuzzer's and the sanitizers' reports still come through.
  TMPDIR=$scratch "$build/bin/fuzz_$target" \
    -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -close_fd_mask=2 \
    -print_final_stats=1 -artifact_prefix="$work/$target/" "${options[@]}" \
    "$work/$target/corpus" "fuzz/corpus/$target" >"$log" 2>&1 || status=$?
  runs[$target]=$(sed -n 's/^Done \([0-9]*\) runs.*/\1/p' "$log" | tail -1)
  runs[$target]=${runs[$target]:-0}
  if ((status == 0)); then
    result[$target]="0 crashes"
  else
    failed=1
    result[$target]="FAILED (exit $status)"
    grep -E "^(==[0-9]+==|SUMMARY|fuzz check failed|artifact_prefix|Test unit written)" "$log" | head -20 || true
  fi
  echo "$target: ${runs[$target]} executions, ${result[$target]}"
done

echo "== Fuzzing summary (${seconds}s per target)"
total=0
printf '%-18s %14s  %s\n' target executions result
for target in "${targets[@]}"; do
  printf '%-18s %14s  %s\n' "$target" "${runs[$target]}" "${result[$target]}"
  total=$((total + runs[$target]))
done
printf '%-18s %14s\n' total "$total"
exit "$failed"
