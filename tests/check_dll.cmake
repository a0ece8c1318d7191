# Checks the built plug-in's PE image with objdump: the export directory's
# name, exactly three named exports at ordinals 1 to 3, imports from
# Windows system libraries only, no zlib linked in (the tool's reader uses
# it; the plug-in never does), and no aligned 32-byte vector moves to or
# from the stack (Win64 aligns the stack to 16 bytes only).
# Usage: cmake -DDLL=path -DOBJDUMP=tool -P check_dll.cmake
cmake_policy(SET CMP0057 NEW)
execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE headers RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "objdump -p failed on ${DLL}")
endif()

if(NOT headers MATCHES "Name[ \t]+[0-9a-f]+ mondrel_input\\.aui2\n")
  message(FATAL_ERROR "export directory is not named mondrel_input.aui2")
endif()
if(NOT headers MATCHES "Export Address Table[ \t]+00000003")
  message(FATAL_ERROR "the export address table does not hold exactly three entries")
endif()
string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table\n(\t\\[[^\n]*\n)+" names "${headers}")
set(expected "[Ordinal/Name Pointer] Table\n\t[   0] GetInputPluginTable\n\t[   1] InitializePlugin\n\t[   2] UninitializePlugin\n")
if(NOT names STREQUAL expected)
  message(FATAL_ERROR "named exports differ:\n${names}")
endif()

string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${headers}")
set(allowed KERNEL32.dll msvcrt.dll SHLWAPI.dll USER32.dll)
foreach(entry IN LISTS imports)
  string(REPLACE "DLL Name: " "" dll "${entry}")
  if(NOT dll IN_LIST allowed)
    message(FATAL_ERROR "unexpected import ${dll}")
  endif()
  message(STATUS "imports ${dll}")
endforeach()

# zlib carries its copyright notice into every program that links it.
file(STRINGS ${DLL} zlib REGEX "(in|de)flate [0-9.]+ Copyright")
if(zlib)
  message(FATAL_ERROR "zlib is linked into the plug-in: ${zlib}")
endif()

execute_process(COMMAND ${OBJDUMP} -d --no-show-raw-insn ${DLL} OUTPUT_VARIABLE code)
string(REGEX MATCHALL "vmov(dqa|aps|apd)[ \t]+[^\n]*%ymm[^\n]*\\(%r[sb]p\\)[^\n]*|vmov(dqa|aps|apd)[ \t]+[^\n]*\\(%r[sb]p\\)[^\n]*%ymm[^\n]*" spills "${code}")
if(spills)
  message(FATAL_ERROR "aligned 32-byte moves to or from the stack:\n${spills}")
endif()
string(REGEX MATCHALL "vpsrlvd[^\n]*%ymm" avx2 "${code}")
list(LENGTH avx2 avx2Count)
if(avx2Count EQUAL 0)
  message(FATAL_ERROR "no AVX2 conversion code found to check")
endif()
message(STATUS "checked ${avx2Count} AVX2 variable shifts; no aligned ymm stack moves")
