#!/usr/bin/env bash
# The demo: installs missing packages, builds, installs the programs into a prefix under
# build/, makes a demo management server (a host root) with the installed vrhost, and runs the
# installed tessera against it: its help, then a command-line error.
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

# A fresh demo management server: registry, server folders, prerequisite file, cluster state.
host="$root/host"
"$prefix/bin/vrhost" init --force --root "$host"
export VR_HOST_ROOT="$host" PATH="$prefix/bin:$PATH"
echo "Demo host in $host (vrhost snapshot prints all of it)"
echo
echo "\$ vrhost reg query 'SOFTWARE\Tamberlin\TB Vorant'"
vrhost reg query 'SOFTWARE\Tamberlin\TB Vorant'

show() {
  echo
  echo "\$ tessera $*"
  local rc=0
  "$prefix/bin/tessera" "$@" || rc=$?
  echo "[exit code $rc]"
  return 0
}

show -help
# "-patch" is missing: the error, the usage, exit code 50.
show -reg examples/VRMS_0200.xml
