# The platform's surface, checked on the built library: every header below platform/ refuses to
# be included from another folder, and libkwz_platform.so exports only names that the headers at
# platform/'s root declare (no internal class, no instantiation of the standard library).
#
#   cmake -DCOMPILER=c++ -DSOURCE_DIR=<repo> -DLIBRARY=<.so> -DNM=nm -DWORK_DIR=<dir>
#         -P surface_check.cmake

file(GLOB_RECURSE internal_headers RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/platform/*/*.h)
if(NOT internal_headers)
  message(FATAL_ERROR "no headers found below ${SOURCE_DIR}/platform")
endif()
file(MAKE_DIRECTORY ${WORK_DIR})
foreach(header IN LISTS internal_headers)
  set(source ${WORK_DIR}/includes_internal.cpp)
  file(WRITE ${source} "#include \"${header}\"\n")
  execute_process(COMMAND ${COMPILER} -std=c++20 -fsyntax-only -I${SOURCE_DIR} ${source}
                  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(result EQUAL 0 OR NOT output MATCHES "a header internal to platform/")
    message(SEND_ERROR "${header} can be included from outside platform/:\n${output}")
  endif()
endforeach()

file(GLOB public_headers ${SOURCE_DIR}/platform/*.h)
set(declared "")
foreach(header IN LISTS public_headers)
  file(READ ${header} text)
  string(APPEND declared " ${text} ")
endforeach()

execute_process(COMMAND ${NM} -DC --defined-only ${LIBRARY} RESULT_VARIABLE result
                OUTPUT_VARIABLE symbols ERROR_VARIABLE error)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${LIBRARY}: ${error}")
endif()
string(REPLACE ";" "," symbols "${symbols}")
string(REPLACE "\n" ";" symbols "${symbols}")
set(count 0)
foreach(line IN LISTS symbols)
  # "<address> <type> <name>"; the sanitizers' and profilers' own symbols are the toolchain's.
  if(NOT line MATCHES "^[0-9a-f]+ [A-Za-z] (.+)$")
    continue()
  endif()
  set(symbol "${CMAKE_MATCH_1}")
  if(symbol MATCHES "^__(asan|odr_asan|sanitizer|tsan|ubsan|llvm)")
    continue()
  endif()
  math(EXPR count "${count} + 1")
  # The first name of the symbol (the class of a member, the variable, the function) must be
  # one that a public header spells.
  string(REGEX REPLACE "^(typeinfo name for|typeinfo for|vtable for|guard variable for) " ""
                       name "${symbol}")
  string(REGEX REPLACE "^kwz_platform::" "" name "${name}")
  string(REGEX MATCH "^[A-Za-z_][A-Za-z_0-9]*" name "${name}")
  if(name STREQUAL "" OR name MATCHES "^(std|__gnu_cxx|__cxxabiv1)$"
     OR NOT declared MATCHES "[^A-Za-z_0-9]${name}[^A-Za-z_0-9]")
    message(SEND_ERROR "exported but not public API: ${symbol}")
  endif()
endforeach()
message(STATUS "${LIBRARY}: ${count} exported symbols checked")
