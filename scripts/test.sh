#!/usr/bin/env bash
# Every test: installs missing packages, builds with AddressSanitizer and
# UndefinedBehaviorSanitizer (every warning an error), and runs the whole suite under them.
# The build uses clang: with both sanitizers it compiles the tree in about half the time GCC
# takes. GCC still compiles the product code, optimised, in scripts/release-werror.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
source scripts/ccache-env.sh
build=${VR_BUILD_DIR:-build-asan}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVR_SANITIZE=ON -DVR_WERROR=ON \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ "${vr_launcher[@]}"
cmake --build "$build" -j "$(nproc)"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir "$build" --output-on-failure -j "$(nproc)"
