#!/usr/bin/env bash
# Registration and unregistration time of the platform section at 50, 500 and 2,000 platforms
# (each with its OS type, 10 OS versions and 5 match entries; 10 system types shared by all).
#   bash bench/platform_bench.sh            builds tessera, vrhost, VrMsClusterInfo (Release) under build/bench
#   BIN=/path/to/bin bash bench/platform_bench.sh   uses programs already built (tessera, vrhost, VrMsClusterInfo in BIN)
#   SIZES="50 500" ...                      the platform counts to measure
# Prints, per size, the wall time and the CPU time (user + system) of -reg and of -unreg, the
# number of durable repository commits (fdatasync calls, when strace is installed) and whether
# the namespace came back exactly; the budget is 2 s each at 500 platforms. Every instance the
# section writes or deletes is one durable commit of the repository, so the wall time is bound
# below by that count times the disk's sync time, which the script measures and prints.
set -euo pipefail
cd "$(dirname "$0")/.."
sizes=${SIZES:-"50 500 2000"}
if [ -z "${BIN:-}" ]; then
  build=build/bench
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVR_BUILD_TESTS=OFF >/dev/null
  cmake --build "$build" --target tessera vrhost VrMsClusterInfo >/dev/null
  tessera="$build/tessera/tessera" vrhost="$build/tools/vrhost/vrhost"
  tooldir="$(cd "$build/tools/VrMsClusterInfo" && pwd)"
else
  tessera="$BIN/tessera" vrhost="$BIN/vrhost" tooldir="$BIN"
fi
tessera=$(realpath "$tessera") vrhost=$(realpath "$vrhost")
work=$(mktemp -d "${TMPDIR:-/tmp}/platform_bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
export PATH="$tooldir:$PATH" VR_COMPUTER_NAME=BENCHNODE

# A registration file with n platforms.
make_file() {
  local n=$1 out=$2 i j
  {
    echo '<?xml version="1.0" encoding="UTF-8"?>'
    echo '<!DOCTYPE VrNPConfig SYSTEM "VrNPConfig.dtd">'
    echo '<VrNPConfig version="A.07.50"><PlatformList>'
    for ((i = 0; i < n; i++)); do
      local st=$((100 + i % 10)) os=$((1000 + i))
      printf '<Platform><SystemType><value>%d</value><caption><text L="1033">Bench%d 64-bit</text></caption></SystemType>' "$st" $((i % 10))
      printf '<OSType><value>%d</value><caption><text L="1033">Bench OS %d</text></caption>' "$os" "$i"
      printf '<snmp>^bench-os-%d$</snmp><agent>^BenchOS-%d$</agent><netapi>bench-%d</netapi></OSType><OSVersions>' "$i" "$i" "$i"
      for ((j = 0; j < 10; j++)); do
        printf '<OSVersion><value>%d</value><caption><text L="1033">Bench OS %d.%d</text></caption>' $((100000 + i * 10 + j)) "$i" "$j"
        [ "$j" -lt 2 ] && printf '<agent>^BenchOS-%d-%d$</agent>' "$i" "$j"
        printf '</OSVersion>'
      done
      printf '</OSVersions></Platform>\n'
    done
    echo '</PlatformList></VrNPConfig>'
  } > "$out"
}

# Milliseconds of wall and of CPU time of one command: "wall cpu".
timed() {
  /usr/bin/time -f '%e %U %S' -o "$work/time" "$@" >/dev/null
  awk '{printf "%d %d\n", $1 * 1000, ($2 + $3) * 1000}' "$work/time"
}
sync_ms=$(python3 - "$work/sync.tmp" <<'PY'
import os, sys, time
f = os.open(sys.argv[1], os.O_WRONLY | os.O_CREAT)
t = time.time()
for i in range(100):
    os.pwrite(f, b"x" * 4096, i * 4096)
    os.fdatasync(f)
print("%.2f" % ((time.time() - t) * 10))
PY
)
echo "one 4 KiB write + fdatasync on this disk: $sync_ms ms"
printf '%-10s %16s %16s %10s  %s\n' platforms "reg wall/cpu ms" "unreg wall/cpu ms" commits namespace
for n in $sizes; do
  root="$work/host$n"
  export VR_HOST_ROOT="$root"
  "$vrhost" init >/dev/null
  make_file "$n" "$work/bench$n.xml"
  "$vrhost" wmi export > "$work/before.mof"
  read -r reg regcpu < <(timed "$tessera" -reg "$work/bench$n.xml" -patch BENCH -sections platform -log "$work/bench$n.undo")
  read -r unreg unregcpu < <(timed "$tessera" -unreg "$work/bench$n.undo")
  "$vrhost" wmi export > "$work/after.mof"
  if cmp -s "$work/before.mof" "$work/after.mof"; then restored="restored exactly"; else restored="DIFFERS"; fi
  commits=-
  if command -v strace >/dev/null; then
    "$vrhost" init --force >/dev/null
    strace -f -c -e trace=fdatasync,fsync -o "$work/strace" \
      "$tessera" -reg "$work/bench$n.xml" -patch BENCH -sections platform -log "$work/again$n.undo" >/dev/null 2>&1 || true
    commits=$(awk '$NF ~ /^f(data)?sync$/ {n += $4} END {print n + 0}' "$work/strace")
  fi
  verdict=""
  if [ "$n" = 500 ]; then
    if [ "$reg" -lt 2000 ] && [ "$unreg" -lt 2000 ]; then verdict=" (within the 2 s budget)"; else verdict=" (OVER the 2 s budget)"; fi
  fi
  printf '%-10s %16s %16s %10s  %s%s\n' "$n" "$reg/$regcpu" "$unreg/$unregcpu" "$commits" "$restored" "$verdict"
  rm -rf "$root"
done
