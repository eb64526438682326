#!/usr/bin/env bash
# The README's commands run as printed. The build tree is installed into a fresh prefix; then
# every ```sh block of the README runs, in order, in one shell (set -e: a failing command
# fails the test), in a fresh work folder with PREFIX naming the installed tree and nothing
# else of ours on PATH. A block right after a line "<!-- not run by the README test: ... -->"
# (set-up and build commands, a PostgreSQL server) is left out. A ```text block that shows
# "$ command" lines with their output is a transcript: each command runs at that point and
# must print the lines shown, in order (its standard output, then its standard error, as a
# terminal shows them); a line "..." stands for lines left out, and without one the output has
# no other lines (blank lines aside).
set -uo pipefail
src=$1
build=$2
cmake=${3:-cmake}
work=$(mktemp -d "${TMPDIR:-/tmp}/vrreadme.XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"
"$cmake" --install "$build" --prefix "$prefix" > "$work/install.log" 2>&1 || {
  cat "$work/install.log"; echo "FAIL: cmake --install"; exit 1; }
mkdir -p "$work/run" "$work/home" "$work/t"

# The README as one script: shell blocks as they are, transcripts as checked commands.
awk -v T="$work/t" '
  function flush_expect() {
    if (cmd != "") {
      printf "{ %s\n} > \"%s/stdout.%d\" 2> \"%s/stderr.%d\"\n", cmd, T, n, T, n
      printf "cat \"%s/stdout.%d\" \"%s/stderr.%d\" > \"%s/out.%d\"\n", T, n, T, n, T, n
      printf "check_transcript %d %d\n", n, line_of_cmd
      close(T "/exp." n)
      cmd = ""
    }
  }
  /^```/ {
    if (inblock) {
      if (kind == "text") flush_expect()
      inblock = 0; next
    }
    inblock = 1; kind = substr($0, 4)
    skip = (last ~ /^<!-- not run by the README test/)
    if (kind == "sh" && !skip) printf "echo \"--- README line %d\" >&2\n", NR
    next
  }
  inblock && kind == "sh" && !skip { print; next }
  inblock && kind == "text" && !skip {
    if ($0 ~ /^\$ /) {
      flush_expect()
      n++; cmd = substr($0, 3); line_of_cmd = NR
      printf "" > (T "/exp." n)
    } else if (cmd != "") {
      print $0 > (T "/exp." n)
    }
    next
  }
  { if ($0 != "") last = $0 }
' "$src/README.md" > "$work/readme.sh"

cat > "$work/prologue.sh" <<'PROLOGUE'
set -e
# The lines shown must come in order among the lines printed; without "..." there may be no others.
check_transcript() {
  local n=$1 line=$2 exp="$T/exp.$1" out="$T/out.$1"
  if ! awk -v OUT="$out" '
      BEGIN { while ((getline l < OUT) > 0) if (l != "") got[++m] = l }
      $0 == "..." { gap = 1; next }
      $0 == "" { next }
      { want[++k] = $0 }
      END {
        j = 1
        for (i = 1; i <= k; i++) {
          while (j <= m && got[j] != want[i]) { if (!gap) exit 1; j++ }
          if (j > m) exit 1
          j++
        }
        if (!gap && j <= m) exit 1
      }' "$exp"; then
    echo "FAIL: the transcript at README line $line does not match what the command prints" >&2
    echo "--- shown:" >&2; cat "$exp" >&2; echo "--- printed:" >&2; cat "$out" >&2
    exit 1
  fi
}
PROLOGUE

cd "$work/run"
if ! env -i HOME="$work/home" PATH=/usr/bin:/bin LANG=C.UTF-8 TMPDIR="${TMPDIR:-/tmp}" PREFIX="$prefix" T="$work/t" \
     bash -c 'source "$1"; source "$2"' readme "$work/prologue.sh" "$work/readme.sh" > "$work/readme.out" 2>&1; then
  cat "$work/readme.out"
  echo "FAIL: a README command failed (the last '--- README line' above names its block)"
  exit 1
fi
blocks=$(grep -c '^--- README line' "$work/readme.out")
transcripts=$(ls "$work/t" | grep -c '^exp\.' || true)
[ "$blocks" -ge 5 ] || { cat "$work/readme.out"; echo "FAIL: only $blocks blocks ran"; exit 1; }
echo "README: $blocks command blocks and $transcripts transcript commands ran as printed"
