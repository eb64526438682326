# cmake -DSOURCE_DIR=dir [-DBINARY_DIR=dir] -P os_headers_check.cmake
#
# Program code and the host layers above platform/os reach the operating system only through
# platform/os: their sources include no operating-system header. Tests, fuzz targets,
# benchmarks and the test support may (they drive processes and files directly).
if(NOT DEFINED SOURCE_DIR)
  message(FATAL_ERROR "os_headers_check.cmake needs -DSOURCE_DIR=...")
endif()
file(GLOB_RECURSE sources LIST_DIRECTORIES false RELATIVE "${SOURCE_DIR}"
  "${SOURCE_DIR}/*.h" "${SOURCE_DIR}/*.cpp")
set(osHeader "#[ \t]*include[ \t]*<(unistd|fcntl|dirent|poll|pwd|grp|dlfcn|spawn|signal|termios|syslog|windows)\\.h>|#[ \t]*include[ \t]*<(sys|arpa|netinet)/")
set(binaryPrefix "")
if(DEFINED BINARY_DIR)
  file(RELATIVE_PATH binaryPrefix "${SOURCE_DIR}" "${BINARY_DIR}")
endif()
set(offenders "")
set(checked 0)
foreach(rel IN LISTS sources)
  # Build trees below the source tree (their include roots link to the sources) are no sources.
  if((binaryPrefix AND NOT binaryPrefix MATCHES "^\\.\\." AND rel MATCHES "^${binaryPrefix}/")
     OR rel MATCHES "^(build[^/]*|\\.[^/]*|tests|bench|platform/os)/"
     OR rel MATCHES "(_test|_fuzzer)\\.cpp$|/testing/|Test[A-Za-z]*\\.h$|FuzzFile\\.h$")
    continue()
  endif()
  math(EXPR checked "${checked} + 1")
  file(STRINGS "${SOURCE_DIR}/${rel}" hits REGEX "${osHeader}")
  if(hits)
    list(APPEND offenders "${rel}: ${hits}")
  endif()
endforeach()
if(checked LESS 50)
  message(FATAL_ERROR "Only ${checked} sources found below ${SOURCE_DIR}: the check looked in the wrong place.")
endif()
if(offenders)
  list(JOIN offenders "\n  " text)
  message(FATAL_ERROR "These sources include operating-system headers, which only platform/os may:\n  ${text}")
endif()
message(STATUS "${checked} sources include no operating-system header.")
