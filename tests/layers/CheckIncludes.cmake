# Fails when a source file includes a header of a layer above its own. The build already
# refuses calls that point up (each layer's library links only the layers below it); this
# catches the header-only dependencies a link cannot see.
#   cmake -DSOURCE_DIR=<checkout> -P CheckIncludes.cmake
cmake_minimum_required(VERSION 3.25)
#
# Each folder and the folders its files may include from. "zeltablet" is the public header,
# whose types every layer may use.
set(allowed_png png platform)
set(allowed_crypto crypto)
set(allowed_image image png platform)
set(allowed_transport transport crypto platform zeltablet)
set(allowed_tablet tablet transport image crypto platform zeltablet)
set(allowed_platform platform zeltablet)
set(allowed_sim sim platform)

set(violations "")
foreach(layer png crypto image transport tablet platform sim)
  if(layer STREQUAL "sim")
    set(dir ${SOURCE_DIR}/sim)
  else()
    set(dir ${SOURCE_DIR}/src/${layer})
  endif()
  file(GLOB_RECURSE files ${dir}/*.h ${dir}/*.cpp)
  foreach(file IN LISTS files)
    file(STRINGS ${file} includes REGEX "^#include \"[a-z]+/")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^#include \"([a-z]+)/.*" "\\1" target "${line}")
      if(NOT target IN_LIST allowed_${layer})
        file(RELATIVE_PATH name ${SOURCE_DIR} ${file})
        string(APPEND violations "  ${name}: ${line}\n")
      endif()
    endforeach()
  endforeach()
endforeach()
if(violations)
  message(FATAL_ERROR "Headers included from a layer above:\n${violations}")
endif()
