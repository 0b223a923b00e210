#!/usr/bin/env bash
# Builds Marrowgate with its tests and benchmarks and runs every test.
#   bash scripts/run-tests.sh            # build/ with the default flags
#   BUILD_DIR=b SANITIZE=ON BENCH=OFF bash scripts/run-tests.sh
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

# Paths relative to the checkout, so that every clone shares the compiler cache.
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD}

build_dir=${BUILD_DIR:-build}
sanitize=${SANITIZE:-OFF}
bench=${BENCH:-ON}
jobs=${JOBS:-$(nproc)}

cmake -S . -B "$build_dir" -DMARROWGATE_TESTS=ON -DMARROWGATE_BENCH="$bench" \
  -DMARROWGATE_SANITIZE="$sanitize" >/dev/null
cmake --build "$build_dir" -j "$jobs"

export ASAN_OPTIONS=${ASAN_OPTIONS:-halt_on_error=1:detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
ctest --test-dir "$build_dir" --output-on-failure -j "$jobs"
