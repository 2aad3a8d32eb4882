#!/usr/bin/env bash
# Installs what is missing, runs the fuzz targets for a short while, then builds and runs
# the whole test suite three times: a plain build, AddressSanitizer+UBSan, and ThreadSanitizer (engine, results, settings, network and
# command-line tests; Qt itself is not built for ThreadSanitizer, so the window tests are
# left out of that run). A failed build or test run does not stop the others; the script
# ends with ctest's summary line of each run and exits non-zero when anything failed.
set -uo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh || exit 1
jobs=$(nproc)

# Sanitizer builds are compiled at -O1 with line tables only: that halves their compile
# time, and reports still name every frame's file and line.
sanitizer_flags=(-DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG"
                 -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG")

# The sanitizers' behaviour on a report; the suppression files are added by ctest itself
# (tests/CMakeLists.txt), so a plain ctest run in a sanitizer build reads them too.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1"

# A compiler cache, where one is installed, makes a repeated run rebuild only what changed.
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

summaries=()
failed=0

run_suite() {  # name, extra cmake arguments...
  local name=$1; shift
  local dir="build-$name" start=$SECONDS built tested summary status
  echo "=== $name build"
  if ! cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" "$@" >/dev/null ||
     ! cmake --build "$dir" -j "$jobs"; then
    summaries+=("$name: build failed after $((SECONDS - start)) s")
    failed=1
    return
  fi
  built=$((SECONDS - start))
  echo "=== $name tests"
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" 2>&1 | tee "$dir/ctest-output.log"
  status=${PIPESTATUS[0]}
  tested=$((SECONDS - start - built))
  summary=$(grep -E '^[0-9]+% tests passed' "$dir/ctest-output.log" | tail -n 1)
  [[ -n $summary ]] || summary="ctest ended without a summary (exit status $status)"
  summaries+=("$name (build ${built} s, tests ${tested} s): $summary")
  ((status == 0)) || failed=1
}

# Clang's thread-safety analysis of the lock annotations, compile only, over the libraries
# below the window: a guarded field used without its lock fails this step.
check_lock_annotations() {
  local start=$SECONDS
  echo "=== lock annotations (clang -Wthread-safety)"
  if CC=clang CXX=clang++ cmake -S . -B build-clang -G Ninja -DCMAKE_BUILD_TYPE=Debug \
       -DLQ_WITH_GUI=OFF -DLQ_BUILD_TESTS=OFF \
       -DCMAKE_CXX_FLAGS="-Wthread-safety -Werror=thread-safety" >/dev/null &&
     cmake --build build-clang -j "$jobs" --target lq_os lq_hive lq_smb lq_discovery lq_network lq_results lq_engine lq_settings lq_index; then
    summaries+=("lock annotations ($((SECONDS - start)) s): clean")
  else
    summaries+=("lock annotations: failed after $((SECONDS - start)) s")
    failed=1
  fi
}

# The libFuzzer targets (fuzz/), side by side for about 30 s each, when clang can build
# them. Inputs they find go to build-fuzz/corpus, never into the repository's seeds; an
# input that crashes a target (or runs past 10 s) fails the run and is kept in
# build-fuzz/crashes.
run_fuzzers() {
  local start=$SECONDS dir=build-fuzz targets=(fuzz_result_file fuzz_settings_file fuzz_masks fuzz_wsd_message fuzz_index_file)
  if ! command -v clang++ >/dev/null; then
    summaries+=("fuzzing: skipped, no clang")
    return
  fi
  echo "=== fuzz build"
  if ! CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
         "${launcher[@]}" "${sanitizer_flags[@]}" -DLQ_FUZZ=ON -DLQ_WITH_GUI=OFF -DLQ_BUILD_TESTS=OFF >/dev/null ||
     ! cmake --build "$dir" -j "$jobs" --target "${targets[@]}"; then
    summaries+=("fuzzing: build failed after $((SECONDS - start)) s")
    failed=1
    return
  fi
  echo "=== fuzzing"
  mkdir -p "$dir/crashes"
  local pids=() crashed=() target i
  for target in "${targets[@]}"; do
    mkdir -p "$dir/corpus/$target"
    "$dir/fuzz/$target" -max_total_time=30 -timeout=10 -artifact_prefix="$dir/crashes/$target-" \
      "$dir/corpus/$target" "fuzz/corpus/$target" >"$dir/$target.log" 2>&1 &
    pids+=($!)
  done
  for i in "${!pids[@]}"; do
    wait "${pids[$i]}" || crashed+=("${targets[$i]}")
  done
  if ((${#crashed[@]})); then
    for target in "${crashed[@]}"; do tail -n 40 "$dir/$target.log"; done
    summaries+=("fuzzing ($((SECONDS - start)) s): crashed: ${crashed[*]}; inputs in $dir/crashes")
    failed=1
  else
    summaries+=("fuzzing ($((SECONDS - start)) s): ${#targets[@]} targets, no crash")
  fi
}

check_lock_annotations
run_fuzzers
run_suite plain
run_suite asan -DLQ_SANITIZER=address "${sanitizer_flags[@]}"
run_suite tsan -DLQ_SANITIZER=thread -DLQ_WITH_GUI=OFF "${sanitizer_flags[@]}"

echo "=== summary"
printf '%s\n' "${summaries[@]}"
exit "$failed"
