#!/usr/bin/env bash
# The demo: installs missing packages, builds, installs the programs into a prefix under
# build/demo, makes a demo management server with vrhost, and runs the main job on it: a
# registration with tessera, its undo file, the unregistration, and what changed on the host;
# then revenant.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
root="$(pwd)/build/demo"
prefix="$root/prefix"
cmake -S . -B "$root/tree" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVR_BUILD_TESTS=OFF \
      -DCMAKE_INSTALL_PREFIX="$prefix" >/dev/null
cmake --build "$root/tree" -j "$(nproc)"
cmake --install "$root/tree" >/dev/null
echo "Installed into $prefix"

export PATH="$prefix/bin:$PATH"   # tessera finds VrMsClusterInfo on the path
export VR_HOST_ROOT="$root/host"
undo="$root/undo/VRPATCH_REQ_01.undo"
rm -rf "$root/undo"

run() {
  echo
  echo "\$ $*"
  local rc=0
  "$@" || rc=$?
  echo "[exit code $rc]"
  return 0
}
utf16() { iconv -f UTF-16 -t UTF-8 "$1" | tr -d '\r'; }

run vrhost init --force
echo; echo "\$ vrhost wmi query \"SELECT * FROM VR_NodeGroup WHERE Name = 'Unix'\""
vrhost wmi query "SELECT * FROM VR_NodeGroup WHERE Name = 'Unix'" || true
# The Depot database of the demo server: its deployed packages and where they run.
run vrhost db query "SELECT p.DeplPackId, p.Name, p.Version, i.SystemId FROM VR_PM_DeplPack p JOIN VR_PM_InstalledDeplPack i ON i.DeplPackId = p.DeplPackId ORDER BY i.SystemId"
vrhost snapshot --relative > "$root/before.txt"

run tessera -reg examples/PrerequisiteTags.xml -patch VRPATCH_REQ_01 -sections prereq -log "$undo"
if [ -f "$undo" ]; then
  echo; echo "--- the undo file $undo"; utf16 "$undo"
fi
vrhost snapshot --relative > "$root/registered.txt"
echo; echo "--- what the registration changed on the host"
diff "$root/before.txt" "$root/registered.txt" | grep '^[<>]' | cut -c1-160 || true

run tessera -unreg "$undo" -delundo
vrhost snapshot --relative > "$root/after.txt"
echo; echo "--- what stays after the unregistration (run log, version folder, VER and UPDATES lines)"
diff "$root/before.txt" "$root/after.txt" | grep '^[<>]' | cut -c1-160 || true

# Packages: the Depot database and the patch bookkeeping, by the installed programs' full paths.
pkgundo="$root/undo/VRPATCH_PKG_01.undo"
patchkey='HKEY_LOCAL_MACHINE\SOFTWARE\Tamberlin\VREnterprise\Patches\VRPATCH_PKG_01'
"$prefix/bin/vrhost" reg set "$patchkey" Installed REG_DWORD 1   # what the patch's installer writes
"$prefix/bin/vrhost" snapshot --section registry --section depot > "$root/pkg-before.txt" 2>/dev/null || true
run "$prefix/bin/tessera" -reg examples/AgentPackages.xml -patch VRPATCH_PKG_01 -sections package -log "$pkgundo"
if [ -f "$pkgundo" ]; then
  echo; echo "--- the undo file $pkgundo"; utf16 "$pkgundo"
fi
run "$prefix/bin/vrhost" db query "SELECT DeplPackId, Name, Version, LogicalId FROM VR_PM_DeplPack ORDER BY DeplPackId"
run "$prefix/bin/vrhost" db query "SELECT PolTypeId, DeplPackId, SystemType, OsType FROM VR_PM_FunctionalityModule WHERE DeplPackId IN (SELECT DeplPackId FROM VR_PM_DeplPack WHERE Version = '12.05.002' OR Name = 'Vorant Shared Scripts') ORDER BY DeplPackId, PolTypeId"
run "$prefix/bin/vrhost" reg query "$patchkey"
run "$prefix/bin/tessera" -unreg "$pkgundo" -delundo
run "$prefix/bin/vrhost" db query "SELECT DeplPackId, Name, Version FROM VR_PM_DeplPack ORDER BY DeplPackId"
"$prefix/bin/vrhost" snapshot --section registry --section depot > "$root/pkg-after.txt" 2>/dev/null || true
echo; echo "--- what stays after the package unregistration (the package that cannot be uninstalled)"
diff "$root/pkg-before.txt" "$root/pkg-after.txt" | grep '^[<>]' | cut -c1-160 || true

echo; echo "--- the run log"
log="$VR_HOST_ROOT/server/share/install/log/tessera.log"
[ -f "$log" ] && utf16 "$log"

if command -v revenant >/dev/null; then
  run revenant
fi
