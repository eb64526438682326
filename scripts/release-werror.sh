#!/usr/bin/env bash
# The Release build of CI: optimised, every warning an error, so that code the debug build
# never warns about (optimiser-only warnings) cannot go unnoticed.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
build=${VR_RELEASE_BUILD_DIR:-build-release}
source scripts/ccache-env.sh
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVR_WERROR=ON "${vr_launcher[@]}" >/dev/null
cmake --build "$build" -j "$(nproc)"
echo "release: built with -Werror"
