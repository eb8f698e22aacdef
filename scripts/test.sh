#!/usr/bin/env bash
# Builds and runs the whole test suite: the normal build (everything,
# benchmarks built but not run), then the non-GUI tests under
# AddressSanitizer + UndefinedBehaviorSanitizer and under ThreadSanitizer.
# The sanitizer builds keep the control panel's widget-free core and its
# tests and leave out its widgets and the program (QV_BUILD_PANEL_GUI=OFF).
# Last, a short fuzzing pass: a few seconds for each parser's fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup-debian.sh

jobs=$(nproc)
run_ctest() {
  local dir=$1; shift
  ctest --test-dir "$dir" --output-on-failure --timeout 300 -j "$jobs" "$@"
}

echo "== Normal build"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build
run_ctest build

echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQV_SANITIZE=address,undefined \
  -DQV_BUILD_PANEL=ON -DQV_BUILD_PANEL_GUI=OFF -DQV_BUILD_BENCH=OFF
cmake --build build-asan
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_ctest build-asan

echo "== ThreadSanitizer"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQV_SANITIZE=thread \
  -DQV_BUILD_PANEL=ON -DQV_BUILD_PANEL_GUI=OFF -DQV_BUILD_BENCH=OFF
cmake --build build-tsan
TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/tests/tsan-suppressions.txt" run_ctest build-tsan

echo "== Fuzzing (short pass)"
bash scripts/fuzz.sh 5

echo "== All test runs passed"
