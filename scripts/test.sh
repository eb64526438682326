#!/usr/bin/env bash
# Every test: installs missing packages, builds with AddressSanitizer and
# UndefinedBehaviorSanitizer (every warning an error), and runs the whole suite under them.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
source scripts/ccache-env.sh
build=${VR_BUILD_DIR:-build-asan}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVR_SANITIZE=ON -DVR_WERROR=ON "${vr_launcher[@]}"
cmake --build "$build" -j "$(nproc)"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir "$build" --output-on-failure -j "$(nproc)"
