# Each target sees only the headers of itself and of the libraries it links, so that the
# build, not a reviewer, keeps the layers: the source root is on no include path. A target's
# headers are presented through an include root of its own in the build tree,
# include/TARGET/FOLDER/HEADER, one symbolic link per header, so every #include line keeps its
# path from the source root ("platform/os/file.h"). The links are made at configure time; a
# header added to a presented folder reconfigures the build (CONFIGURE_DEPENDS).
set(VR_INCLUDE_ROOT "${CMAKE_BINARY_DIR}/include")
# A header that moved to another target must not stay visible through its old root.
file(REMOVE_RECURSE "${VR_INCLUDE_ROOT}")

# vr_present_headers(TARGET PUBLIC|PRIVATE|INTERFACE ITEMS...)  presents headers to TARGET and,
# PUBLIC or INTERFACE, to whatever links it. Each item, relative to the current folder, is a
# header or a folder (its *.h files, not those of its subfolders: a subfolder belongs to its
# own library).
function(vr_present_headers target scope)
  set(root "${VR_INCLUDE_ROOT}/${target}")
  foreach(item IN LISTS ARGN)
    get_filename_component(full "${item}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    if(IS_DIRECTORY "${full}")
      file(GLOB headers CONFIGURE_DEPENDS LIST_DIRECTORIES false "${full}/*.h")
    elseif(EXISTS "${full}")
      set(headers "${full}")
    else()
      message(FATAL_ERROR "The target ${target} presents '${item}', which does not exist.")
    endif()
    foreach(header IN LISTS headers)
      file(RELATIVE_PATH rel "${CMAKE_SOURCE_DIR}" "${header}")
      get_filename_component(dir "${root}/${rel}" DIRECTORY)
      file(MAKE_DIRECTORY "${dir}")
      file(CREATE_LINK "${header}" "${root}/${rel}" SYMBOLIC)
    endforeach()
  endforeach()
  target_include_directories(${target} ${scope} "${root}")
endfunction()

# vr_library(NAME SOURCES... [HEADERS items...] [DEPS libs...] [PRIVATE_DEPS libs...])  a static
# library of one layer. It presents the headers of its folder, or, where several libraries share
# a folder, the HEADERS it names (headers or folders, see vr_present_headers). DEPS are the
# libraries its headers include: whoever links it sees them too. PRIVATE_DEPS are included by
# its sources only: linked, but hidden from its users.
function(vr_library name)
  cmake_parse_arguments(A "" "" "SOURCES;HEADERS;DEPS;PRIVATE_DEPS" ${ARGN})
  add_library(${name} STATIC ${A_SOURCES})
  if(NOT A_HEADERS)
    set(A_HEADERS .)
  endif()
  vr_present_headers(${name} PUBLIC ${A_HEADERS})
  target_link_libraries(${name} PUBLIC ${A_DEPS} PRIVATE ${A_PRIVATE_DEPS})
endfunction()

# vr_test(NAME SOURCES... [DEPS libs...] [POSTGRES])  a GoogleTest program registered with
# CTest, each of its tests a CTest test of its own. POSTGRES: its tests use a PostgreSQL server
# (tests/support/PgServer.h); the test run starts one for the whole program before its first
# test and stops it after its last (a CTest fixture), instead of one per test.
function(vr_test name)
  if(NOT VR_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(A "POSTGRES" "" "SOURCES;DEPS" ${ARGN})
  foreach(src IN LISTS A_SOURCES)
    get_filename_component(full "${src}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    set_property(GLOBAL APPEND PROPERTY VR_TEST_SOURCES "${full}")
  endforeach()
  add_executable(${name} ${A_SOURCES})
  # The test support is absent only from the small projects that check these helpers.
  if(TARGET vr_test_support)
    target_link_libraries(${name} PRIVATE vr_test_support)
  endif()
  target_link_libraries(${name} PRIVATE ${A_DEPS} GTest::gtest GTest::gtest_main Threads::Threads)
  set(fixture "")
  if(A_POSTGRES)
    set(pointer "${CMAKE_BINARY_DIR}/test-postgres/${name}")
    add_test(NAME ${name}.postgres.start COMMAND test_postgres start "${pointer}")
    add_test(NAME ${name}.postgres.stop COMMAND test_postgres stop "${pointer}")
    set_tests_properties(${name}.postgres.start PROPERTIES FIXTURES_SETUP ${name}.postgres TIMEOUT 120)
    set_tests_properties(${name}.postgres.stop PROPERTIES FIXTURES_CLEANUP ${name}.postgres TIMEOUT 120)
    set(fixture FIXTURES_REQUIRED ${name}.postgres)
  endif()
  # One value per property: a list-valued ENVIRONMENT loses all but its first entry on its way
  # through gtest_discover_tests.
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "VR_SOURCE_DIR=${CMAKE_SOURCE_DIR}"
               ENVIRONMENT_MODIFICATION "VR_BINARY_DIR=set:${CMAKE_BINARY_DIR}"
               ${fixture})
endfunction()

# vr_fuzzer(NAME SOURCE WHAT_fuzzer.cpp [DEPS libs...])  a libFuzzer target, built only with
# clang. One layout for all: the target's source WHAT_fuzzer.cpp lies beside the code it
# fuzzes, and its seed corpus, a folder of inputs, beside it as WHAT_fuzz_seeds (checked at
# configure time whether or not fuzzers are built). The fuzz run (scripts/fuzz.sh) starts
# each target from its seeds, listed in fuzz_targets.txt of the build tree.
function(vr_fuzzer name)
  cmake_parse_arguments(A "" "SOURCE" "DEPS" ${ARGN})
  if(NOT A_SOURCE MATCHES "^(.*)_fuzzer\\.cpp$" OR A_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "The fuzz target ${name} needs one SOURCE named WHAT_fuzzer.cpp (given: ${A_SOURCE} ${A_UNPARSED_ARGUMENTS}).")
  endif()
  get_filename_component(seeds "${CMAKE_MATCH_1}_fuzz_seeds" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
  file(GLOB seedFiles LIST_DIRECTORIES false "${seeds}/*")
  if(NOT seedFiles)
    message(FATAL_ERROR "The fuzz target ${name} has no seed corpus (a folder ${seeds} with inputs).")
  endif()
  if(NOT VR_BUILD_FUZZERS OR NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    return()
  endif()
  add_executable(${name} ${A_SOURCE})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${name} PRIVATE ${A_DEPS})
  set_property(GLOBAL APPEND PROPERTY VR_FUZZ_TARGETS "$<TARGET_FILE:${name}> ${seeds}")
endfunction()

# vr_write_fuzz_targets()  writes fuzz_targets.txt: one line per target, its program and its seeds.
function(vr_write_fuzz_targets)
  get_property(targets GLOBAL PROPERTY VR_FUZZ_TARGETS)
  if(targets)
    list(JOIN targets "\n" text)
    file(GENERATE OUTPUT "${CMAKE_BINARY_DIR}/fuzz_targets.txt" CONTENT "${text}\n")
  endif()
endfunction()

# vr_check_test_sources()  fails the configuration when a *_test.cpp of the source tree belongs
# to no vr_test target: such tests would silently never run.
function(vr_check_test_sources)
  if(NOT VR_BUILD_TESTS)
    return()
  endif()
  file(GLOB_RECURSE found CONFIGURE_DEPENDS LIST_DIRECTORIES false
    RELATIVE "${CMAKE_SOURCE_DIR}" "${CMAKE_SOURCE_DIR}/*_test.cpp")
  get_property(built GLOBAL PROPERTY VR_TEST_SOURCES)
  file(RELATIVE_PATH binRel "${CMAKE_SOURCE_DIR}" "${CMAKE_BINARY_DIR}")
  set(orphans "")
  foreach(rel IN LISTS found)
    # Build trees inside the source tree (build-asan, build/...) and hidden folders are not sources.
    if(rel MATCHES "^(build[^/]*|\\.[^/]*)/" OR (NOT binRel MATCHES "^\\.\\." AND rel MATCHES "^${binRel}/"))
      continue()
    endif()
    if(NOT "${CMAKE_SOURCE_DIR}/${rel}" IN_LIST built)
      list(APPEND orphans "${rel}")
    endif()
  endforeach()
  if(orphans)
    list(JOIN orphans "\n  " text)
    message(FATAL_ERROR "These test sources belong to no vr_test target, so their tests would never run:\n  ${text}")
  endif()
endfunction()

# vr_add_subdirectories(DIRS...)  adds each folder; a listed folder without its CMakeLists.txt
# fails the configuration instead of being skipped.
function(vr_add_subdirectories)
  foreach(dir IN LISTS ARGN)
    if(NOT EXISTS "${CMAKE_SOURCE_DIR}/${dir}/CMakeLists.txt")
      message(FATAL_ERROR "The build lists the folder '${dir}', which has no CMakeLists.txt.")
    endif()
    add_subdirectory(${dir})
  endforeach()
endfunction()

# Every target of the folder dir and the folders below it.
function(vr_targets_below dir out)
  get_property(found DIRECTORY "${dir}" PROPERTY BUILDSYSTEM_TARGETS)
  get_property(subdirs DIRECTORY "${dir}" PROPERTY SUBDIRECTORIES)
  foreach(sub IN LISTS subdirs)
    vr_targets_below("${sub}" more)
    list(APPEND found ${more})
  endforeach()
  set(${out} ${found} PARENT_SCOPE)
endfunction()

# vr_unity_alone(files...)  In a unity build (CMAKE_UNITY_BUILD, which CI's Release and fuzz
# builds use: a target's files compiled a batch at a time, each batch one translation unit,
# in about half the time) two files of a target that define the same internal name cannot
# share a batch. These files (paths from the source root) are compiled alone. Called once all
# targets exist.
function(vr_unity_alone)
  if(NOT CMAKE_UNITY_BUILD)
    return()
  endif()
  vr_targets_below("${CMAKE_SOURCE_DIR}" targets)
  foreach(target IN LISTS targets)
    get_target_property(type ${target} TYPE)
    if(NOT type MATCHES "^(STATIC_LIBRARY|EXECUTABLE)$")
      continue()
    endif()
    get_target_property(sources ${target} SOURCES)
    get_target_property(dir ${target} SOURCE_DIR)
    foreach(src IN LISTS sources)
      get_filename_component(full "${src}" ABSOLUTE BASE_DIR "${dir}")
      file(RELATIVE_PATH rel "${CMAKE_SOURCE_DIR}" "${full}")
      if(rel IN_LIST ARGN)
        set_source_files_properties("${full}" TARGET_DIRECTORY ${target} PROPERTIES SKIP_UNITY_BUILD_INCLUSION ON)
      endif()
    endforeach()
  endforeach()
endfunction()
