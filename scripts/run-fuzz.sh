#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) and fuzzes each one in turn, bounded by a run
# count and a time limit per target.
#   bash scripts/run-fuzz.sh                         # about 60 seconds a target
#   FUZZ_SECONDS=600 bash scripts/run-fuzz.sh
#   FUZZ_RUNS=150000 FUZZ_SEED=1 bash scripts/run-fuzz.sh   # a repeatable run
#   FUZZ_TARGETS="sealed_fuzz tail_fuzz" bash scripts/run-fuzz.sh
# FUZZ_RUNS and FUZZ_SECONDS apply to every target unless a target has its
# own (FUZZ_RUNS_<target>, FUZZ_SECONDS_<target>, e.g. FUZZ_RUNS_config_fuzz).
#
# Seeds: fuzz/corpus/<target>/ in the repository (read only here); the
# package target's seeds are also written by package_fuzz_corpus. What a
# run finds goes to <build>/fuzz/corpus-<target>/, crashes to
# <build>/fuzz/<target>-crash-*.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

root=$(pwd)
build_dir=${BUILD_DIR:-build-fuzz}
case "$build_dir" in /*) ;; *) build_dir="$root/$build_dir" ;; esac
targets=${FUZZ_TARGETS:-"package_fuzz sealed_fuzz tail_fuzz config_fuzz app_input_fuzz"}
jobs=${JOBS:-2}
flags="-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer"

cmake -S . -B "$build_dir" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DMARROWGATE_FUZZ=ON -DMARROWGATE_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_C_FLAGS="$flags" >/dev/null
# shellcheck disable=SC2086
cmake --build "$build_dir" --target $targets package_fuzz_corpus -j "$jobs"

generated="$build_dir/fuzz/seeds"
mkdir -p "$generated"
"$build_dir/fuzz/package_fuzz_corpus" "$generated" >/dev/null

export ASAN_OPTIONS=${ASAN_OPTIONS:-halt_on_error=1:detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
summary=()
for target in $targets; do
  runs_var="FUZZ_RUNS_$target"
  seconds_var="FUZZ_SECONDS_$target"
  runs=${!runs_var:-${FUZZ_RUNS:--1}}          # -1: bounded by time only
  seconds=${!seconds_var:-${FUZZ_SECONDS:-60}}
  seed=${FUZZ_SEED:-0}                           # 0: a new seed each run
  corpus="$build_dir/fuzz/corpus-$target"
  mkdir -p "$corpus"
  seeds=()
  [ -d "fuzz/corpus/$target" ] && seeds+=("$root/fuzz/corpus/$target")
  [ "$target" = package_fuzz ] && seeds+=("$generated")
  log="$build_dir/fuzz/$target.log"
  echo "== $target: runs $runs, at most ${seconds}s, seed $seed"
  # The configuration target writes its include files into the current
  # folder: run it inside the build folder.
  (cd "$build_dir/fuzz" &&
    "./$target" "corpus-$target" "${seeds[@]}" -runs="$runs" \
      -max_total_time="$seconds" -seed="$seed" -max_len=65536 -rss_limit_mb=2048 \
      -timeout=10 -artifact_prefix="$target-" -print_final_stats=1) >"$log" 2>&1 || {
    tail -n 60 "$log"
    echo "== $target found a problem (log: $log)"
    exit 1
  }
  executions=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || true)
  summary+=("$target: ${executions:-?} executions")
done
printf '%s\n' "== fuzzing done" "${summary[@]}"
