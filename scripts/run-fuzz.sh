#!/usr/bin/env bash
# Builds the package fuzz target with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer), writes the seed corpus and fuzzes for a
# bounded time.
#   bash scripts/run-fuzz.sh            # about 60 seconds
#   FUZZ_SECONDS=600 bash scripts/run-fuzz.sh
#   FUZZ_RUNS=150000 FUZZ_SEED=1 bash scripts/run-fuzz.sh   # a repeatable run
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

build_dir=${BUILD_DIR:-build-fuzz}
seconds=${FUZZ_SECONDS:-60}
runs=${FUZZ_RUNS:--1}    # -1: bounded by time only
seed=${FUZZ_SEED:-0}     # 0: a new seed each run
jobs=${JOBS:-2}
flags="-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer"

cmake -S . -B "$build_dir" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DMARROWGATE_FUZZ=ON -DMARROWGATE_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_C_FLAGS="$flags" >/dev/null
cmake --build "$build_dir" --target package_fuzz package_fuzz_corpus -j "$jobs"

seeds="$build_dir/fuzz/seeds"
corpus="$build_dir/fuzz/corpus"
mkdir -p "$seeds" "$corpus"
"$build_dir/fuzz/package_fuzz_corpus" "$seeds"

export ASAN_OPTIONS=${ASAN_OPTIONS:-halt_on_error=1:detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
"$build_dir/fuzz/package_fuzz" "$corpus" "$seeds" -max_total_time="$seconds" -runs="$runs" -seed="$seed" \
  -max_len=65536 -rss_limit_mb=2048 -timeout=10 -artifact_prefix="$build_dir/fuzz/"

# The application's parsers: a bounded, repeatable run from an empty corpus.
cmake --build "$build_dir" --target app_input_fuzz -j "$jobs"
mkdir -p "$build_dir/fuzz/app_corpus"
"$build_dir/fuzz/app_input_fuzz" "$build_dir/fuzz/app_corpus" -runs="${APP_FUZZ_RUNS:-200000}" \
  -seed="${FUZZ_SEED:-1}" -max_len=4096 -rss_limit_mb=2048 -timeout=10 \
  -artifact_prefix="$build_dir/fuzz/"
