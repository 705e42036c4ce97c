#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test:
#   1. the normal build: unit, stress, UI and end-to-end tests;
#   2. the engine library with AddressSanitizer + UndefinedBehaviorSanitizer: unit and stress;
#   3. the same with ThreadSanitizer;
#   4. the file-parser fuzz targets, briefly, on their seed corpora.
# Exits non-zero as soon as any step fails.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash scripts/install-deps.sh

jobs=$(nproc)
export CTEST_OUTPUT_ON_FAILURE=1
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}

step() { printf '\n==== %s ====\n' "$*"; }

# Runs ctest in a build folder and adds its counts to the totals.
passed=0
ran_log=$(mktemp)
run_ctest() {
    local dir=$1
    shift
    local status=0
    (cd "$dir" && ctest -j"$jobs" --timeout 900 "$@") 2>&1 | tee "$ran_log" || status=$?
    local total
    total=$(sed -n 's/.*tests passed, [0-9]* tests failed out of \([0-9]*\).*/\1/p' "$ran_log" | tail -n 1)
    passed=$((passed + ${total:-0}))
    if [ "$status" -ne 0 ]; then
        echo "tests in $dir failed"
        exit "$status"
    fi
}

step "normal build"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"
run_ctest build

step "address and undefined-behaviour sanitizers"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DPLEXORA_SANITIZE=address,undefined,float-cast-overflow -DPLEXORA_WITH_QT=OFF -DPLEXORA_BENCH=OFF >/dev/null
cmake --build build-asan -j"$jobs"
run_ctest build-asan -L 'unit|stress'

step "thread sanitizer"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DPLEXORA_SANITIZE=thread -DPLEXORA_WITH_QT=OFF -DPLEXORA_BENCH=OFF >/dev/null
cmake --build build-tsan -j"$jobs"
run_ctest build-tsan -L 'unit|stress'

if compgen -G "fuzz/*_fuzz.cpp" >/dev/null; then
    step "fuzz targets"
    CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DPLEXORA_FUZZ=ON -DPLEXORA_WITH_QT=OFF >/dev/null
    cmake --build build-fuzz -j"$jobs"
    run_ctest build-fuzz -L fuzz
fi

step "all test stages passed"
echo "${passed} passed, 0 failed"
