#!/usr/bin/env bash
# Wall time and peak memory of `tessera -help` and of a command-line error.
#   bash bench/cmdline_bench.sh            builds tessera (Release) under build/bench first
#   TESSERA=/path/to/tessera bash bench/cmdline_bench.sh
#   RUNS=200 ...                           runs per case (default 50)
# Prints the median wall time over the runs and the peak resident set size.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${RUNS:-50}
tessera=${TESSERA:-}
if [ -z "$tessera" ]; then
  build=build/bench
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVR_BUILD_TESTS=OFF >/dev/null
  cmake --build "$build" --target tessera >/dev/null
  tessera="$build/tessera/tessera"
fi
[ -x /usr/bin/time ] || { echo "cmdline_bench.sh: /usr/bin/time is missing (bash scripts/deps.sh)" >&2; exit 1; }

# Microseconds from $EPOCHREALTIME (no process is started to read the clock).
now_us() { local t=${EPOCHREALTIME/[.,]/}; echo $((10#$t)); }

measure() {
  local name=$1; shift
  local times=() start end i
  for ((i = 0; i < runs; i++)); do
    start=$(now_us)
    "$tessera" "$@" >/dev/null 2>&1 || true
    end=$(now_us)
    times+=($((end - start)))
  done
  local median
  median=$(printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : int((a[NR/2] + a[NR/2+1]) / 2)}')
  local peak=0 kb
  for ((i = 0; i < 5; i++)); do
    /usr/bin/time -v -o /tmp/cmdline_bench.$$ "$tessera" "$@" >/dev/null 2>&1 || true
    kb=$(awk -F: '/Maximum resident set size/ {gsub(/ /, "", $2); print $2}' /tmp/cmdline_bench.$$)
    [ "$kb" -gt "$peak" ] && peak=$kb
  done
  rm -f /tmp/cmdline_bench.$$
  local verdict="within budget"
  if [ "$median" -ge 5000 ] || [ "$peak" -ge 8192 ]; then verdict="OVER BUDGET (5 ms, 8 MiB)"; fi
  printf '%-28s median %6.3f ms over %d runs   peak RSS %6.2f MiB   %s\n' "$name" \
    "$(awk -v u="$median" 'BEGIN {print u / 1000}')" "$runs" "$(awk -v k="$peak" 'BEGIN {print k / 1024}')" "$verdict"
}

echo "tessera: $tessera"
measure "tessera -help" -help
measure "tessera (command-line error)" -reg conf.xml
