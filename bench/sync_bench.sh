#!/usr/bin/env bash
# The disk syncs (fsync and fdatasync calls, counted by strace) and the wall time of the
# registration and of the unregistration of each example registration file on a fresh demo
# host: the prerequisite, platform, package and three-section registrations. A run journals
# each section's record with one sync before the section's first change, and the stores may
# commit without syncs of their own inside a recorded section, so the count stays small and
# does not grow with the number of changes.
#   bash bench/sync_bench.sh              builds tessera, vrhost, VrMsClusterInfo (Release) under build/bench
#   BIN=/path/to/bin bash bench/sync_bench.sh   uses programs already built
set -euo pipefail
cd "$(dirname "$0")/.."
src=$PWD
if ! command -v strace >/dev/null; then
  echo "strace is needed to count the syncs" >&2
  exit 1
fi
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
work=$(mktemp -d "${TMPDIR:-/tmp}/sync_bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
export PATH="$tooldir:/usr/bin:/bin" VR_COMPUTER_NAME=BENCHNODE VR_HOST_ROOT="$work/host" TMPDIR="$work"
export VR_DATA_DIR="$src/data" ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}  # an ASan build under strace: no leak check

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

# "syncs wall_ms" of one tessera run.
counted() {
  local start end
  start=${EPOCHREALTIME/[.,]/}
  strace -f -c -e trace=fdatasync,fsync -o "$work/strace" "$tessera" "$@" >/dev/null 2>&1 || true
  end=${EPOCHREALTIME/[.,]/}
  echo "$(awk '$NF ~ /^f(data)?sync$/ {n += $4} END {print n + 0}' "$work/strace") $(((10#$end - 10#$start) / 1000))"
}

printf '%-28s %18s %18s\n' registration "reg syncs / ms" "unreg syncs / ms"
for row in "prerequisite:PrerequisiteTags.xml:prereq" "platform:NewPlatformRiscV.xml:platform" \
           "package:AgentPackages.xml:package" "three sections:NewPlatformRiscV.xml:"; do
  IFS=: read -r label file sections <<<"$row"
  rm -rf "$work/host" "$work"/*.undo*
  "$vrhost" init >/dev/null
  "$vrhost" reg set 'HKEY_LOCAL_MACHINE\SOFTWARE\Tamberlin\VREnterprise\Patches\BENCH_01' Installed REG_DWORD 1 >/dev/null
  args=(-reg "$src/examples/$file" -patch BENCH_01 -log "$work/bench.undo")
  [ -n "$sections" ] && args+=(-sections "$sections")
  read -r regs regms < <(counted "${args[@]}")
  read -r unregs unregms < <(counted -unreg "$work/bench.undo")
  printf '%-28s %18s %18s\n' "$label" "$regs / $regms" "$unregs / $unregms"
done
