# Fails when a source under src/ includes a project header of a layer above
# its own. The layers, bottom up:
#
#   text, platform                    the ground: text services, the one
#                                     interface to the operating system
#   storage                           the working folder, staged files, the
#                                     event log
#   catalogue, metar, protocol        the subsystems; protocol reaches the
#                                     weather side only through its
#                                     WeatherCommands interface
#   service                           the service object and the executable
#
# Tests (*_test.cpp and testing/ folders) may also use the shared test
# helpers (support/, fixtures/) and the protocol client.
#
#   cmake -DSOURCE_DIR=<repository> -DSTAMP=<file> -P check_layers.cmake

cmake_minimum_required(VERSION 3.25)

set(allowed_text text)
set(allowed_platform text platform)
set(allowed_storage text platform storage)
set(allowed_catalogue text platform storage catalogue)
set(allowed_metar text platform storage metar)
set(allowed_protocol text platform storage catalogue protocol)
set(allowed_service text platform storage catalogue metar protocol service)

file(GLOB_RECURSE sources RELATIVE "${SOURCE_DIR}/src" "${SOURCE_DIR}/src/*.h" "${SOURCE_DIR}/src/*.cpp")
set(violations "")
foreach(source IN LISTS sources)
  string(REGEX MATCH "^[^/]+" layer "${source}")
  if(NOT DEFINED allowed_${layer})
    string(APPEND violations "\n  src/${source}: the folder src/${layer} has no place in the layers")
    continue()
  endif()
  set(is_test FALSE)
  if(source MATCHES "_test\\.cpp$" OR source MATCHES "/testing/")
    set(is_test TRUE)
  endif()
  file(STRINGS "${SOURCE_DIR}/src/${source}" includes REGEX "^[ \t]*#[ \t]*include[ \t]+\"")
  foreach(line IN LISTS includes)
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]+\"([^\"]*)\".*$" "\\1" header "${line}")
    if(header MATCHES "^([^/]+)/")
      set(target_layer "${CMAKE_MATCH_1}")
    else()
      set(target_layer "")
    endif()
    if(target_layer IN_LIST allowed_${layer})
      continue()
    endif()
    if(is_test AND (target_layer STREQUAL "support" OR target_layer STREQUAL "fixtures"
                    OR header STREQUAL "protocol_client.h"))
      continue()
    endif()
    string(APPEND violations "\n  src/${source}: #include \"${header}\" reaches above ${layer}")
  endforeach()
endforeach()

if(violations)
  message(FATAL_ERROR "Includes that run upwards through the layers:${violations}")
endif()
file(WRITE "${STAMP}" "")
