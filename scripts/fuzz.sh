#!/usr/bin/env bash
# The fuzz run of CI: builds every libFuzzer target with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer on, as every fuzz build has them) and runs each from its seed
# corpus for VR_FUZZ_SECONDS seconds (30), VR_FUZZ_JOBS targets at a time (one per processor
# unless told). A crash, a leak, a sanitizer report or a hang fails
# the run; the input that found it is kept in the build tree's fuzz-artifacts folder.
#   bash scripts/fuzz.sh [--build-only]   (CI builds the targets beside the test run, then
#                                         runs them; the second build finds nothing to do)
set -euo pipefail
cd "$(dirname "$0")/.."
build_only=false
case ${1:-} in
  "") ;;
  --build-only) build_only=true ;;
  *) echo "usage: bash scripts/fuzz.sh [--build-only]" >&2; exit 2 ;;
esac
bash scripts/deps.sh
build=${VR_FUZZ_BUILD_DIR:-build-fuzz}
seconds=${VR_FUZZ_SECONDS:-30}
source scripts/ccache-env.sh
# -O2, as the targets run a quarter more inputs in their time than at -O1; line tables only,
# all a report's stack needs, a sixth quicker to compile than full debugging information; a
# unity build (a target's files compiled in batches), about a third quicker again.
opt="-O2 -gline-tables-only -DNDEBUG"
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_FLAGS_RELWITHDEBINFO="$opt" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="$opt" \
  -DVR_BUILD_FUZZERS=ON -DCMAKE_UNITY_BUILD=ON -DVR_BUILD_TESTS=OFF -DVR_BUILD_BENCH=OFF "${vr_launcher[@]}" >/dev/null
mapfile -t lines < "$build/fuzz_targets.txt"
targets=()
for line in "${lines[@]}"; do targets+=("$(basename "${line%% *}")"); done
cmake --build "$build" -j "$(nproc)" --target "${targets[@]}"
if $build_only; then echo "fuzz: ${#targets[@]} targets built"; exit 0; fi

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
artifacts="$build/fuzz-artifacts"
mkdir -p "$artifacts"
jobs=${VR_FUZZ_JOBS:-$(nproc)}

# One target's run; its whole output goes to its log, its exit status is the run's.
fuzz_one() {
  local program=$1 seeds=$2 name corpus rc=0
  name=$(basename "$program")
  # New inputs go to a scratch corpus, never into the seeds of the source tree.
  corpus=$(mktemp -d "${TMPDIR:-/tmp}/vrfuzz-$name.XXXXXX")
  "$program" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$artifacts/$name-" "$corpus" "$seeds" > "$artifacts/$name.log" 2>&1 || rc=$?
  rm -rf "$corpus"
  return $rc
}

# The targets run $jobs at a time, each for the full $seconds; a target's report is printed
# when it ends, whole, so that reports of targets running side by side do not mix.
declare -A running=()
failed=()
report() {  # pid, exit status
  local name=${running[$1]}
  unset "running[$1]"
  if [ "$2" -eq 0 ]; then
    echo "== $name: clean"
    grep -E '^stat::number_of_executed_units|^Done' "$artifacts/$name.log" || true
  else
    echo "== $name: exit $2"
    tail -40 "$artifacts/$name.log"
    failed+=("$name")
  fi
}
wait_one() {
  local pid rc=0
  wait -n -p pid || rc=$?
  report "$pid" "$rc"
}
for line in "${lines[@]}"; do
  program=${line%% *}
  seeds=${line#* }
  while [ ${#running[@]} -ge "$jobs" ]; do wait_one; done
  echo "-- $(basename "$program"): ${seconds}s from $(find "$seeds" -maxdepth 1 -type f | wc -l) seeds"
  fuzz_one "$program" "$seeds" &
  running[$!]=$(basename "$program")
done
while [ ${#running[@]} -gt 0 ]; do wait_one; done
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: findings in ${failed[*]} (inputs in $artifacts)" >&2
  exit 1
fi
echo "fuzz: ${#lines[@]} targets ran ${seconds}s each, $jobs at a time, clean"
