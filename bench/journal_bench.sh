#!/usr/bin/env bash
# The cost of the run journal: the median wall time of registering the prerequisite example
# (examples/PrerequisiteTags.xml, -sections prereq, with an undo file) on a fresh demo host,
# with the journal, and with the build of the commit before the journal came; and their ratio
# (the target is below 2).
#   bash bench/journal_bench.sh     builds both (Release) under build/bench-journal*
#   BUILD=DIR BASELINE=DIR ...      Release build folders to use instead (with tessera, vrhost
#                                   and VrMsClusterInfo built)
#   BASELINE_REV=REV ...            the baseline commit (default: the parent of the commit that
#                                   added tessera/RunJournal.cpp)
#   RUNS=50 ...                     registrations per build (default 30)
set -euo pipefail
cd "$(dirname "$0")/.."
src=$PWD
runs=${RUNS:-30}
targets=(tessera vrhost VrMsClusterInfo)

build_tree() {  # source folder, build folder
  cmake -S "$1" -B "$2" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVR_BUILD_TESTS=OFF -DVR_BUILD_BENCH=OFF >/dev/null
  cmake --build "$2" --target "${targets[@]}" >/dev/null
}

build=${BUILD:-}
if [ -z "$build" ]; then
  build=$src/build/bench-journal
  build_tree "$src" "$build"
fi
baseline=${BASELINE:-}
if [ -z "$baseline" ]; then
  rev=${BASELINE_REV:-$(git log --diff-filter=A --format=%H -- tessera/RunJournal.cpp | tail -1)^}
  tree=$src/build/bench-journal-baseline-src
  rm -rf "$tree"
  mkdir -p "$tree"
  git archive "$rev" | tar -x -C "$tree"
  baseline=$src/build/bench-journal-baseline
  build_tree "$tree" "$baseline"
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
now_us() { local t=${EPOCHREALTIME/[.,]/}; echo $((10#$t)); }

# Median microseconds of the registration with the programs of one build folder.
measure() {
  local dir=$1 times=() start end i
  local env=(VR_HOST_ROOT="$work/host" VR_COMPUTER_NAME=THISNODE PATH="$dir/tools/VrMsClusterInfo:/usr/bin:/bin"
             TMPDIR="$work")
  rm -rf "$work/host" "$work/pristine"
  env "${env[@]}" "$dir/tools/vrhost/vrhost" init >/dev/null
  cp -a "$work/host" "$work/pristine"
  for ((i = 0; i < runs; i++)); do
    rm -rf "$work/host" "$work"/undo*
    cp -a "$work/pristine" "$work/host"
    start=$(now_us)
    env "${env[@]}" "$dir/tessera/tessera" -reg "$src/examples/PrerequisiteTags.xml" -patch BENCH_01 \
      -sections prereq -log "$work/undo" >/dev/null
    end=$(now_us)
    times+=($((end - start)))
  done
  printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : int((a[NR/2] + a[NR/2+1]) / 2)}'
}

with=$(measure "$build")
without=$(measure "$baseline")
ratio=$(awk -v a="$with" -v b="$without" 'BEGIN {printf "%.2f", a / b}')
verdict=$(awk -v r="$ratio" 'BEGIN {print (r < 2) ? "within budget" : "OVER BUDGET"}')
printf 'prerequisite example registration, median of %d: without journal %d us, with journal %d us, ratio %s (target < 2): %s\n' \
  "$runs" "$without" "$with" "$ratio" "$verdict"
