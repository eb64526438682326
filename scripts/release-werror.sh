#!/usr/bin/env bash
# The Release build of CI: the programs, libraries and benchmarks optimised, every warning an
# error, so that code the sanitized build never warns about (optimiser-only warnings) cannot go
# unnoticed. The tests are left out: the sanitized build of scripts/test.sh compiles and runs
# them with every warning an error too, and compiling them a second time, optimised, would
# take as long as the rest of this build.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
build=${VR_RELEASE_BUILD_DIR:-build-release}
source scripts/ccache-env.sh
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVR_WERROR=ON -DVR_BUILD_TESTS=OFF "${vr_launcher[@]}" >/dev/null
cmake --build "$build" -j "$(nproc)"
echo "release: built with -Werror"
