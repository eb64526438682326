#!/usr/bin/env bash
# Registration and unregistration time of the platform section at 50, 500 and 2,000 platforms
# (each with 10 OS versions, 5 match entries and a node group; 10 system types shared by all).
#   bash bench/platform_bench.sh            builds tessera, vrhost, VrMsClusterInfo (Release) under build/bench
#   BIN=/path/to/bin bash bench/platform_bench.sh   uses programs already built (tessera, vrhost, VrMsClusterInfo in BIN)
#   SIZES="50 500" ...                      the platform counts to measure
# Prints, per size, the wall time of -reg and of -unreg and whether the namespace came back
# exactly; the budget is 2 s each at 500 platforms.
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

now_us() { local t=${EPOCHREALTIME/[.,]/}; echo $((10#$t)); }

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
      printf '</OSVersions><NodeGroups><NodeGroup><name>BENCH_%d</name><caption><text L="1033">Bench %d</text></caption><parent>Nodes</parent></NodeGroup></NodeGroups></Platform>\n' "$i" "$i"
    done
    echo '</PlatformList></VrNPConfig>'
  } > "$out"
}

printf '%-10s %12s %12s  %s\n' platforms "reg (ms)" "unreg (ms)" namespace
for n in $sizes; do
  root="$work/host$n"
  export VR_HOST_ROOT="$root"
  "$vrhost" init >/dev/null
  make_file "$n" "$work/bench$n.xml"
  "$vrhost" wmi export > "$work/before.mof"
  start=$(now_us)
  "$tessera" -reg "$work/bench$n.xml" -patch BENCH -sections platform -log "$work/bench$n.undo" >/dev/null
  reg=$(( ($(now_us) - start) / 1000 ))
  start=$(now_us)
  "$tessera" -unreg "$work/bench$n.undo" >/dev/null
  unreg=$(( ($(now_us) - start) / 1000 ))
  "$vrhost" wmi export > "$work/after.mof"
  if cmp -s "$work/before.mof" "$work/after.mof"; then restored="restored exactly"; else restored="DIFFERS"; fi
  verdict=""
  if [ "$n" = 500 ]; then
    if [ "$reg" -lt 2000 ] && [ "$unreg" -lt 2000 ]; then verdict=" (within the 2 s budget)"; else verdict=" (OVER the 2 s budget)"; fi
  fi
  printf '%-10s %12d %12d  %s%s\n' "$n" "$reg" "$unreg" "$restored" "$verdict"
  rm -rf "$root"
done
