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
# A unity build (a target's files compiled in batches) takes about a third less time; the
# warnings are the same, as each file's code is still compiled with every warning on.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVR_WERROR=ON -DVR_BUILD_TESTS=OFF \
  -DCMAKE_UNITY_BUILD=ON "${vr_launcher[@]}" >/dev/null
cmake --build "$build" -j "$(nproc)"
echo "release: built with -Werror"
