#!/usr/bin/env bash
# The manual pages render without a single groff warning, name what every page must have,
# and the bash completions complete options, sections, cluster modes and commands.
set -uo pipefail
src=$1
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

command -v groff >/dev/null || { echo "FAIL: groff is not installed (scripts/deps.sh)"; exit 1; }
for page in tessera mordant revenant vrhost VrMsClusterInfo; do
  file="$src/doc/man/$page.1"
  [ -f "$file" ] || { fail "$page.1 missing"; continue; }
  warnings=$(groff -man -ww -z "$file" 2>&1)
  [ -z "$warnings" ] || fail "$page.1: groff warns: $warnings"
  text=$(groff -man -Tutf8 "$file" 2>/dev/null | sed 's/.\x08//g')
  for heading in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" FILES ENVIRONMENT EXAMPLES; do
    grep -q "^$heading\$" <<<"$text" || fail "$page.1 has no $heading section"
  done
  grep -q -- "--version" <<<"$text" || fail "$page.1 does not name --version"
done

# Completion: the candidates for the words typed so far.
complete_words() {
  local program=$1; shift
  bash -c '
    source "$1"; shift
    COMP_WORDS=("$@"); COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    compopt() { :; }
    "_$(basename "$0")"
    printf "%s\n" "${COMPREPLY[@]}" | sort | tr "\n" " "
  ' "$program" "$src/doc/completion/$program" "$@"
}
check() {
  local expected=$1; shift
  local got; got=$(complete_words "$@")
  [ "$got" = "$expected" ] || fail "completion of '$*': got '$got', expected '$expected'"
}
check "-reg -reinstall " tessera tessera -re
check "platform,package platform,prereq " tessera tessera -sections platform,p
check "full local " tessera tessera -cluster ""
check "--add " mordant mordant --a
check "--log --undo " mordant mordant --add f.txt --
check "snapshot " vrhost vrhost sn
check "depot " vrhost vrhost snapshot --section de
check "active " vrhost vrhost init --cluster ac
check "REG_DWORD " vrhost vrhost reg set K N REG_D

[ "$failures" = 0 ] && echo "manual pages and completion: all checks passed"
exit $((failures > 0))
