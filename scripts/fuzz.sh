#!/usr/bin/env bash
# The fuzz run of CI: builds every libFuzzer target with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer on, as every fuzz build has them) and runs each from its seed
# corpus for VR_FUZZ_SECONDS seconds (30). A crash, a leak, a sanitizer report or a hang fails
# the run; the input that found it is kept in the build tree's fuzz-artifacts folder.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
build=${VR_FUZZ_BUILD_DIR:-build-fuzz}
seconds=${VR_FUZZ_SECONDS:-30}
launcher=()
if command -v ccache >/dev/null 2>&1; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVR_BUILD_FUZZERS=ON -DVR_BUILD_TESTS=OFF -DVR_BUILD_BENCH=OFF "${launcher[@]}" >/dev/null
mapfile -t lines < "$build/fuzz_targets.txt"
targets=()
for line in "${lines[@]}"; do targets+=("$(basename "${line%% *}")"); done
cmake --build "$build" -j "$(nproc)" --target "${targets[@]}"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
artifacts="$build/fuzz-artifacts"
mkdir -p "$artifacts"
failed=()
for line in "${lines[@]}"; do
  program=${line%% *}
  seeds=${line#* }
  name=$(basename "$program")
  # New inputs go to a scratch corpus, never into the seeds of the source tree.
  corpus=$(mktemp -d "${TMPDIR:-/tmp}/vrfuzz-$name.XXXXXX")
  echo "== $name: ${seconds}s from $(find "$seeds" -maxdepth 1 -type f | wc -l) seeds"
  if "$program" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
       -artifact_prefix="$artifacts/$name-" "$corpus" "$seeds" > "$artifacts/$name.log" 2>&1; then
    grep -E '^stat::number_of_executed_units|^Done' "$artifacts/$name.log" || true
  else
    tail -40 "$artifacts/$name.log"
    failed+=("$name")
  fi
  rm -rf "$corpus"
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: findings in ${failed[*]} (inputs in $artifacts)" >&2
  exit 1
fi
echo "fuzz: ${#lines[@]} targets ran ${seconds}s each, clean"
