#!/usr/bin/env bash
# The demo: installs missing packages, builds, installs the programs into a prefix under
# build/demo, makes a demo management server with vrhost, and runs the main job on it: the
# RISC-V example registered with all three sections in one run, what changed in each store,
# and its unregistration; then each section on its own with its undo file, mordant (dump, add
# with an undo MOF, the undo MOF put back) and revenant. The example files are those of the
# installed tree (share/vorant/examples).
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

# The installed programs run by their full paths; tessera finds VrMsClusterInfo beside itself.
bin="$prefix/bin"
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

run "$bin/vrhost" init --force
examples="$prefix/share/vorant/examples"

# The main job: the RISC-V example with all three sections (platforms, packages, prerequisite
# entries) in one run, what changed in each store, and the unregistration.
main_undo="$root/undo/VRPATCH_RISCV_ALL.undo"
main_key='HKEY_LOCAL_MACHINE\SOFTWARE\Tamberlin\VREnterprise\Patches\VRPATCH_RISCV_ALL'
"$bin/vrhost" snapshot --relative > "$root/main-before.txt"
run "$bin/tessera" -reg "$examples/NewPlatformRiscV.xml" -patch VRPATCH_RISCV_ALL -log "$main_undo"
echo; echo "--- what the registration changed, store by store"
"$bin/vrhost" snapshot --relative > "$root/main-registered.txt"
diff "$root/main-before.txt" "$root/main-registered.txt" | grep '^[<>]' | cut -c1-160 || true
"$bin/vrhost" reg set "$main_key" Installed REG_DWORD 1   # what the patch's installer writes
run "$bin/tessera" -unreg "$main_undo" -delundo
"$bin/vrhost" snapshot --relative > "$root/main-after.txt"
echo; echo "--- what stays after the unregistration (run log, instrumentation files, VER and UPDATES lines, version folder)"
diff "$root/main-before.txt" "$root/main-after.txt" | grep '^[<>]' | cut -c1-160 || true

# Then each section on its own.
echo; echo "\$ vrhost wmi query \"SELECT * FROM VR_NodeGroup WHERE Name = 'Unix'\""
"$bin/vrhost" wmi query "SELECT * FROM VR_NodeGroup WHERE Name = 'Unix'" || true
# The Depot database of the demo server: its deployed packages and where they run.
run "$bin/vrhost" db query "SELECT p.DeplPackId, p.Name, p.Version, i.SystemId FROM VR_PM_DeplPack p JOIN VR_PM_InstalledDeplPack i ON i.DeplPackId = p.DeplPackId ORDER BY i.SystemId"
"$bin/vrhost" snapshot --relative > "$root/before.txt"

run "$bin/tessera" -reg "$examples/PrerequisiteTags.xml" -patch VRPATCH_REQ_01 -sections prereq -log "$undo"
if [ -f "$undo" ]; then
  echo; echo "--- the undo file $undo"; utf16 "$undo"
fi
"$bin/vrhost" snapshot --relative > "$root/registered.txt"
echo; echo "--- what the registration changed on the host"
diff "$root/before.txt" "$root/registered.txt" | grep '^[<>]' | cut -c1-160 || true

run "$bin/tessera" -unreg "$undo" -delundo
"$bin/vrhost" snapshot --relative > "$root/after.txt"
echo; echo "--- what stays after the unregistration (run log, version folder, VER and UPDATES lines)"
diff "$root/before.txt" "$root/after.txt" | grep '^[<>]' | cut -c1-160 || true

# The platform section: a new platform (RISC-V) into the WMI model and out again.
platform_undo="$root/undo/VRPATCH_RISCV_01.undo"
platform_query="SELECT * FROM VR_PlatformMatch WHERE Value = '91'"
"$prefix/bin/vrhost" wmi export > "$root/platform-before.mof"
run "$prefix/bin/tessera" -reg "$examples/NewPlatformRiscV.xml" -patch VRPATCH_RISCV_01 -sections platform -log "$platform_undo"
if [ -f "$platform_undo" ]; then
  echo; echo "--- the platform section of $platform_undo"; utf16 "$platform_undo" | sed -n '/^\[\[\[PLATFORMS\]\]\]/,/PLATFORMS_END/p'
fi
echo; echo "\$ vrhost wmi query \"$platform_query\""
"$prefix/bin/vrhost" wmi query "$platform_query" || true
echo; echo "\$ vrhost wmi query \"SELECT * FROM VR_NodeGroup WHERE Name = 'RISCV_LINUX'\""
"$prefix/bin/vrhost" wmi query "SELECT * FROM VR_NodeGroup WHERE Name = 'RISCV_LINUX'" || true
echo; echo "--- what the registration changed in VR_ManagedNode (one qualifier a line)"
"$prefix/bin/vrhost" wmi export VR_ManagedNode > "$root/platform-registered.mof"
qualifiers() { grep 'uint32 \(SystemType\|OsType\|OsVersion\)' "$1" | sed 's/}[^,]*, /}\n/g'; }
diff <(qualifiers "$root/platform-before.mof") <(qualifiers "$root/platform-registered.mof") | grep '^[<>]' || true
run "$prefix/bin/tessera" -unreg "$platform_undo" -delundo
echo; echo "\$ vrhost wmi query \"$platform_query\""
"$prefix/bin/vrhost" wmi query "$platform_query" || true
"$prefix/bin/vrhost" wmi export > "$root/platform-after.mof"
if cmp -s "$root/platform-before.mof" "$root/platform-after.mof"; then
  echo "The namespace is exactly as before the registration (the copied instrumentation files stay)."
else
  echo "The namespace differs from before the registration:"; diff "$root/platform-before.mof" "$root/platform-after.mof" || true
fi

# Packages: the Depot database and the patch bookkeeping, by the installed programs' full paths.
pkgundo="$root/undo/VRPATCH_PKG_01.undo"
patchkey='HKEY_LOCAL_MACHINE\SOFTWARE\Tamberlin\VREnterprise\Patches\VRPATCH_PKG_01'
"$prefix/bin/vrhost" reg set "$patchkey" Installed REG_DWORD 1   # what the patch's installer writes
"$prefix/bin/vrhost" snapshot --section registry --section depot > "$root/pkg-before.txt" 2>/dev/null || true
run "$prefix/bin/tessera" -reg "$examples/AgentPackages.xml" -patch VRPATCH_PKG_01 -sections package -log "$pkgundo"
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

# mordant: the platform values of VR_ManagedNode, an add with an undo MOF, and the undo MOF
# put back with vrhost wmi import.
mordant="$prefix/bin/mordant"
vrhost="$prefix/bin/vrhost"
mofdir="$root/mordant"
rm -rf "$mofdir"; mkdir -p "$mofdir"
run "$mordant" --dump
"$vrhost" wmi export VR_ManagedNode > "$mofdir/before.mof"
run "$mordant" --check "$examples/RiscVPlatform.txt"
run "$mordant" --add "$examples/RiscVPlatform.txt" --undo "$mofdir/riscv-undo.mof"
echo; echo "--- the undo MOF (UTF-16), first lines"; utf16 "$mofdir/riscv-undo.mof" | head -12 | cut -c1-160
run "$mordant" --dump
run "$mordant" -a"$examples/RiscVPlatform.txt" -l"$mofdir/riscv.log"
echo; echo "--- the change log of the second add"; cat "$mofdir/riscv.log"
run "$vrhost" wmi import "$mofdir/riscv-undo.mof"
"$vrhost" wmi export VR_ManagedNode > "$mofdir/after.mof"
if cmp -s "$mofdir/before.mof" "$mofdir/after.mof"; then
  echo "--- VR_ManagedNode is as it was before the add"
else
  echo "--- VR_ManagedNode differs from before the add:"; diff "$mofdir/before.mof" "$mofdir/after.mof" || true
fi

if [ -x "$bin/revenant" ]; then
  run "$bin/revenant"
fi
