#!/usr/bin/env bash
# Configures small projects that use the build helpers of the source tree and checks that a
# test source no target builds, and a listed folder without CMakeLists.txt, stop the
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

[ "$failures" = 0 ] && echo "build checks: all passed"
exit $((failures > 0))
