#!/usr/bin/env bash
# The Debian package: cpack -G DEB of the build tree makes one package with the programs,
# data, manual pages and completion under /usr and Depends naming the run-time libraries;
# unpacked into a scratch root with dpkg -x, its programs run from there.
set -uo pipefail
build=$1
cpack=${2:-cpack}
work=$(mktemp -d "${TMPDIR:-/tmp}/vrdeb.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
for tool in dpkg-deb dpkg "$cpack"; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is not installed (scripts/deps.sh)"; exit 1; }
done

(cd "$work" && "$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$work/out") > "$work/cpack.log" 2>&1 || {
  cat "$work/cpack.log"; echo "FAIL: cpack -G DEB"; exit 1; }
debs=("$work"/out/*.deb)
[ "${#debs[@]}" = 1 ] && [ -f "${debs[0]}" ] || { ls -l "$work/out"; echo "FAIL: not exactly one package"; exit 1; }
deb=${debs[0]}

contents=$(dpkg-deb -c "$deb" | awk '{print $NF}')
for f in bin/tessera bin/mordant bin/revenant bin/vrhost bin/VrMsClusterInfo \
         share/vorant/VrNPConfig.dtd share/vorant/vorant_namespace.mof share/vorant/vroreqcheck.cfg \
         share/vorant/examples/NewPlatformRiscV.xml \
         share/man/man1/tessera.1 share/man/man1/mordant.1 share/man/man1/revenant.1 share/man/man1/vrhost.1 \
         share/man/man1/VrMsClusterInfo.1 \
         share/bash-completion/completions/tessera share/bash-completion/completions/mordant \
         share/bash-completion/completions/vrhost; do
  grep -qx "\./usr/$f" <<<"$contents" || fail "the package has no /usr/$f"
done
outside=$(grep -v '^\./usr/\|^\./$' <<<"$contents" || true)
[ -z "$outside" ] || fail "files outside /usr: $outside"

[ "$(dpkg-deb -f "$deb" Package)" = "vorant-tools" ] || fail "Package: $(dpkg-deb -f "$deb" Package)"
[ -n "$(dpkg-deb -f "$deb" Version)" ] || fail "no Version"
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libxml2 libsqlite3-0 libodbc2 libsqliteodbc libsodium23; do
  grep -qw -- "$lib" <<<"$depends" || fail "Depends does not name $lib: $depends"
done

# Unpacked into a scratch root: the programs find their data beside their bin folder.
root="$work/root"
dpkg -x "$deb" "$root" || fail "dpkg -x"
export PATH=/usr/bin:/bin VR_HOST_ROOT="$work/host"
unset VR_FAULTS VR_FAULTS_LOG VR_DATA_DIR
"$root/usr/bin/tessera" -help > "$work/help.out" 2> "$work/help.err"
rc=$?
[ "$rc" = 0 ] || fail "tessera -help exited $rc"
grep -q '^-reg <ConfigFile>' "$work/help.out" || fail "tessera -help printed no help: $(cat "$work/help.out")"
[ ! -s "$work/help.err" ] || fail "tessera -help wrote errors: $(cat "$work/help.err")"
"$root/usr/bin/vrhost" init > "$work/init.log" 2>&1 || { cat "$work/init.log"; fail "vrhost init from the package"; }
[ -f "$work/host/.vrhost" ] || fail "vrhost init made no host"
"$root/usr/bin/tessera" -reg "$root/usr/share/vorant/examples/PrerequisiteTags.xml" -patch DEB_01 -sections prereq \
  -log "$work/deb.undo" > "$work/reg.out" 2>&1 || { cat "$work/reg.out"; fail "tessera -reg from the package"; }

[ "$failures" = 0 ] && echo "Debian package: all checks passed"
exit $((failures > 0))
