#!/usr/bin/env bash
# Installs the Debian packages the build, the tests, the demo and the benchmarks need (only
# the missing ones). groff renders the manual pages in their test; dpkg-deb (dpkg) and cpack
# (cmake) make and read the Debian package; unixodbc has the isql the README shows; locales has
# the sources localedef makes the tests' Latin-1 locale from; ccache keeps compiles between
# builds (scripts/ccache-env.sh); lld links in about half the time of the default linker.
set -euo pipefail
pkgs=(build-essential cmake ninja-build pkg-config googletest libgtest-dev libxml2-dev libxml2-utils
      libsqlite3-dev sqlite3 unixodbc-dev unixodbc odbcinst libsqliteodbc odbc-postgresql postgresql libsodium-dev clang
      time groff-base dpkg locales ccache lld)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null 2>&1; then
      echo "deps.sh: missing packages: ${missing[*]}" >&2
      echo "deps.sh: run this script as root, or install sudo, to install them" >&2
      exit 1
    fi
    SUDO="sudo"
  fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi
