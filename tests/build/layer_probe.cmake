# cmake -DCOMPILER=c++ -DINCLUDES=file -DHEADER=path -DEXPECT=hidden|visible -DWORK=dir -P layer_probe.cmake
#
# Compiles a one-line file, #include "HEADER", with the include directories a target of the
# build compiles with (INCLUDES, one -I option a line, written at generate time). EXPECT=hidden:
# the compiler must fail because it cannot find HEADER, the build's guard of a layer (any other
# failure is no proof and fails the probe). EXPECT=visible: the same file must compile, showing
# that the probe's set-up is sound and that a hidden header is hidden by the layering alone.
foreach(var COMPILER INCLUDES HEADER EXPECT WORK)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "layer_probe.cmake needs -D${var}=...")
  endif()
endforeach()
file(MAKE_DIRECTORY "${WORK}")
string(MAKE_C_IDENTIFIER "${HEADER}" stem)
set(probe "${WORK}/${stem}_probe.cpp")
file(WRITE "${probe}" "#include \"${HEADER}\"\n")
execute_process(
  COMMAND "${COMPILER}" -std=c++20 -fsyntax-only "@${INCLUDES}" "${probe}"
  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(EXPECT STREQUAL "hidden")
  if(result EQUAL 0)
    message(FATAL_ERROR "${HEADER} is visible where the layers forbid it (${INCLUDES}).")
  endif()
  string(FIND "${out}" "${HEADER}" named)
  if(named EQUAL -1 OR NOT out MATCHES "No such file|file not found")
    message(FATAL_ERROR "The probe of ${HEADER} failed, but not for want of the header:\n${out}")
  endif()
elseif(EXPECT STREQUAL "visible")
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${HEADER} does not compile where the layers allow it:\n${out}")
  endif()
else()
  message(FATAL_ERROR "EXPECT is hidden or visible, not '${EXPECT}'.")
endif()
