#!/usr/bin/env bash
# The sweeps that CI samples, at full length, in the build of scripts/test.sh (run that
# first): every kill point of the crash and recovery sweeps plus random SIGKILLs
# (VR_KILL_SWEEP=long, VR_KILL_SWEEP_RANDOM), and VR_PROPERTY_FILES (2000) generated
# registration files per property test. Takes hours; the tests run one per processor.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${VR_BUILD_DIR:-build-asan}
if [ ! -f "$build/CTestTestfile.cmake" ]; then
  echo "long-sweeps: no test build in $build: run scripts/test.sh first" >&2
  exit 1
fi
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export VR_KILL_SWEEP=long
export VR_PROPERTY_FILES=${VR_PROPERTY_FILES:-2000}
ctest --test-dir "$build" --output-on-failure -j "$(nproc)" --timeout 36000 \
  -R 'CrashE2e|RecoveryE2e|GeneratedFiles'
