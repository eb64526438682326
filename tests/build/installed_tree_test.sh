#!/usr/bin/env bash
# Installs the build tree into a temporary prefix and checks that the whole tree lands there
# (programs in bin, data and examples in share/vorant), then runs the installed programs by
# full path, with a PATH that lacks their folder, through a registration and its undoing: tessera
# must find VrMsClusterInfo beside itself.
set -uo pipefail
build=$1
cmake=${2:-cmake}
work=$(mktemp -d "${TMPDIR:-/tmp}/vrinstall.XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

"$cmake" --install "$build" --prefix "$prefix" > "$work/install.log" 2>&1 || {
  cat "$work/install.log"; echo "FAIL: cmake --install"; exit 1; }

# Every file the install wrote lies below the prefix.
while read -r line; do
  case "$line" in
    "-- Installing: "*|"-- Up-to-date: "*) f=${line#*: } ;;
    *) continue ;;
  esac
  case "$f" in "$prefix"/*) ;; *) fail "installed outside the prefix: $f" ;; esac
done < "$work/install.log"

for p in tessera vrhost revenant VrMsClusterInfo; do
  [ -x "$prefix/bin/$p" ] || fail "bin/$p missing"
done
for f in VrNPConfig.dtd vorant_namespace.mof vroreqcheck.cfg examples/PrerequisiteTags.xml; do
  [ -f "$prefix/share/vorant/$f" ] || fail "share/vorant/$f missing"
done
[ ! -e "$prefix/share/vorant/CMakeLists.txt" ] || fail "share/vorant/CMakeLists.txt installed"

# The installed programs, by full path, with their folder nowhere on PATH.
export PATH=/usr/bin:/bin
export VR_HOST_ROOT="$work/host"
unset VR_DATA_DIR VR_FAULTS VR_FAULTS_LOG
"$prefix/bin/vrhost" init > "$work/init.log" 2>&1 || { cat "$work/init.log"; fail "vrhost init"; }
undo="$work/undo/R1.undo"
mkdir -p "$work/undo" "$work/elsewhere"
# Run from a folder that holds no program either.
cd "$work/elsewhere"
"$prefix/bin/tessera" -reg "$prefix/share/vorant/examples/PrerequisiteTags.xml" -patch R1 \
  -sections prereq -log "$undo" > "$work/reg.out" 2> "$work/reg.err"
rc=$?
[ "$rc" = 0 ] || { cat "$work/reg.out" "$work/reg.err"; fail "tessera -reg exited $rc"; }
if grep -q 'TESSERA250' "$work/reg.err"; then fail "tessera did not find VrMsClusterInfo"; fi
"$prefix/bin/tessera" -unreg "$undo" > "$work/unreg.out" 2> "$work/unreg.err"
rc=$?
[ "$rc" = 0 ] || { cat "$work/unreg.out" "$work/unreg.err"; fail "tessera -unreg exited $rc"; }

[ "$failures" = 0 ] && echo "installed tree: all checks passed"
exit $((failures > 0))
