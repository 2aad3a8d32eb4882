#!/usr/bin/env bash
# Installs what is missing, then builds and runs the whole test suite three times: a plain
# build, AddressSanitizer+UBSan, and ThreadSanitizer (engine, results, settings, network and
# command-line tests; Qt itself is not built for ThreadSanitizer, so the window tests are
# left out of that run). Each run ends with ctest's summary line.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
jobs=$(nproc)

run_suite() {  # name, extra cmake arguments...
  local name=$1; shift
  echo "=== $name build"
  cmake -S . -B "build-$name" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "build-$name" -j "$jobs"
  echo "=== $name tests"
  ctest --test-dir "build-$name" --output-on-failure -j "$jobs"
}

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/tests/tsan.supp"
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp"

run_suite plain
run_suite asan -DLQ_SANITIZER=address
run_suite tsan -DLQ_SANITIZER=thread -DLQ_WITH_GUI=OFF
