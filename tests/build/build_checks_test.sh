#!/usr/bin/env bash
# Configures small projects that use the build helpers of the source tree and checks that a
# test source no target builds, a listed folder without CMakeLists.txt, and a fuzz target
# off the layout (WHAT_fuzzer.cpp with its seeds in WHAT_fuzz_seeds beside it) stop the
# configuration with a message naming them, while a complete tree configures.
set -uo pipefail
source_dir=$1
cmake=${2:-cmake}
work=$(mktemp -d "${TMPDIR:-/tmp}/vrbuildcheck.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# A project shaped like ours: helpers, a listed folder with one test.
make_project() {
  local p=$1
  mkdir -p "$p/cmake" "$p/lib" "$p/build-old/lib"
  cp "$source_dir/cmake/VrHelpers.cmake" "$p/cmake/"
  cat > "$p/CMakeLists.txt" <<'CM'
cmake_minimum_required(VERSION 3.22)
project(check LANGUAGES CXX)
set(VR_BUILD_TESTS ON)
find_package(GTest REQUIRED)
find_package(Threads REQUIRED)
enable_testing()
include(GoogleTest)
include(cmake/VrHelpers.cmake)
vr_add_subdirectories(${DIRS})
vr_check_test_sources()
CM
  echo 'vr_test(lib_test SOURCES one_test.cpp)' > "$p/lib/CMakeLists.txt"
  echo 'TEST(A, B) {}' > "$p/lib/one_test.cpp"
  # A build tree inside the source tree is no source.
  echo 'TEST(A, B) {}' > "$p/build-old/lib/stale_test.cpp"
}

configure() {  # project, dirs; prints the output, returns cmake's status
  "$cmake" -S "$1" -B "$1/out" -DDIRS="$2" > "$1/configure.log" 2>&1
}

make_project "$work/good"
configure "$work/good" "lib" || { cat "$work/good/configure.log"; fail "a complete tree does not configure"; }

make_project "$work/orphan"
mkdir -p "$work/orphan/lib/sub"
echo 'TEST(C, D) {}' > "$work/orphan/lib/sub/forgotten_test.cpp"
if configure "$work/orphan" "lib"; then fail "a test source of no target configures"; fi
grep -q 'lib/sub/forgotten_test.cpp' "$work/orphan/configure.log" || fail "the orphan test is not named"
grep -q 'stale_test.cpp' "$work/orphan/configure.log" && fail "a build tree's file is taken for a source"

make_project "$work/missing"
mkdir -p "$work/missing/absent"
if configure "$work/missing" "lib;absent"; then fail "a listed folder without CMakeLists.txt configures"; fi
grep -q "lists the folder 'absent'" "$work/missing/configure.log" || fail "the folder is not named"
if configure "$work/missing" "lib;nowhere"; then fail "a listed folder that does not exist configures"; fi

# Fuzz targets: WHAT_fuzzer.cpp with seeds in WHAT_fuzz_seeds configures (fuzzers off, as in
# every build but the fuzz build, where the seeds are checked all the same).
make_project "$work/fuzz"
echo 'vr_fuzzer(fuzz_good SOURCE good_fuzzer.cpp)' >> "$work/fuzz/lib/CMakeLists.txt"
mkdir -p "$work/fuzz/lib/good_fuzz_seeds"
echo seed > "$work/fuzz/lib/good_fuzz_seeds/one"
configure "$work/fuzz" "lib" || { cat "$work/fuzz/configure.log"; fail "a fuzz target in the layout does not configure"; }
rm "$work/fuzz/lib/good_fuzz_seeds/one"
if configure "$work/fuzz" "lib"; then fail "a fuzz target without seeds configures"; fi
grep -q 'lib/good_fuzz_seeds' "$work/fuzz/configure.log" || fail "the missing seed folder is not named"
make_project "$work/fuzzname"
echo 'vr_fuzzer(fuzz_odd SOURCE fuzz_odd.cpp)' >> "$work/fuzzname/lib/CMakeLists.txt"
if configure "$work/fuzzname" "lib"; then fail "a fuzz source not named WHAT_fuzzer.cpp configures"; fi
grep -q 'needs one SOURCE named WHAT_fuzzer.cpp' "$work/fuzzname/configure.log" || fail "the misnamed fuzz source is not reported"

# Header roots: a library presents the headers of its folder, not those of a subfolder; a
# header that moves to another library leaves the old root at the next configuration; a named
# header that does not exist stops the configuration.
make_project "$work/headers"
mkdir -p "$work/headers/lib/sub"
echo '#pragma once' > "$work/headers/lib/mine.h"
echo '#pragma once' > "$work/headers/lib/moving.h"
echo '#pragma once' > "$work/headers/lib/sub/other.h"
echo 'int Mine() { return 1; }' > "$work/headers/lib/mine.cpp"
echo 'vr_library(vr_mine SOURCES mine.cpp)' >> "$work/headers/lib/CMakeLists.txt"
configure "$work/headers" "lib" || { cat "$work/headers/configure.log"; fail "a library with headers does not configure"; }
root="$work/headers/out/include/vr_mine/lib"
[ -e "$root/mine.h" ] && [ -e "$root/moving.h" ] || fail "the library's headers are not in its include root"
[ -e "$root/sub/other.h" ] && fail "a subfolder's header is presented by the library of the folder above"
echo 'vr_library(vr_mine SOURCES mine.cpp HEADERS mine.h)' >> "$work/headers/lib/CMakeLists.txt"
sed -i '/vr_library(vr_mine SOURCES mine.cpp)$/d' "$work/headers/lib/CMakeLists.txt"
configure "$work/headers" "lib" || { cat "$work/headers/configure.log"; fail "a library naming its headers does not configure"; }
[ -e "$root/mine.h" ] || fail "a named header is not presented"
[ -e "$root/moving.h" ] && fail "a header the library no longer names stays in its include root"
echo 'vr_library(vr_lost SOURCES mine.cpp HEADERS gone.h)' >> "$work/headers/lib/CMakeLists.txt"
if configure "$work/headers" "lib"; then fail "a library naming a missing header configures"; fi
grep -q "presents 'gone.h', which does not exist" "$work/headers/configure.log" || fail "the missing header is not named"

[ "$failures" = 0 ] && echo "build checks: all passed"
exit $((failures > 0))
