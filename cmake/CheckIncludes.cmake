# The include rules of src/, run by the test suite (include_rules):
# - only src/platform/ includes a public header of one of the libraries the
#   SDK calls: it reaches each of them through the operation table there;
# - the folders of src/qcsdk/ depend one way, from the facade at the top down
#   to base/ at the bottom: base/ knows no other folder; the dialog bridge,
#   the channel core and discovery know only base/ (and the channel core no
#   transport); a transport knows neither the other transport nor discovery;
#   nothing includes the facade.
# Usage: cmake -DSOURCE_DIR=<project root> -P CheckIncludes.cmake
cmake_minimum_required(VERSION 3.20)

# The libraries are those whose headers the operation tables in src/platform/
# include (libs/*/include/<name>/); internal libraries of libs/ are not.
file(GLOB tables "${SOURCE_DIR}/src/platform/*.h")
set(library_names)
foreach(table IN LISTS tables)
  file(STRINGS "${table}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*<[^/>]+/")
  foreach(line IN LISTS lines)
    string(REGEX MATCH "<([^/>]+)/" ignored "${line}")
    file(GLOB owners LIST_DIRECTORIES true "${SOURCE_DIR}/libs/*/include/${CMAKE_MATCH_1}")
    if(owners)
      list(APPEND library_names "${CMAKE_MATCH_1}")
    endif()
  endforeach()
endforeach()
list(REMOVE_DUPLICATES library_names)
if(NOT library_names)
  message(FATAL_ERROR "no library header included by ${SOURCE_DIR}/src/platform")
endif()
list(JOIN library_names "|" library_pattern)

# A folder of src/qcsdk/ and the folders it must not include.
set(layers "base:channel|dialog|nxl|oct|discovery|facade" "dialog:channel|nxl|oct|discovery|facade"
  "channel:dialog|nxl|oct|discovery|facade" "nxl:oct|discovery|facade"
  "oct:dialog|nxl|discovery|facade" "discovery:channel|dialog|nxl|oct|facade")

file(GLOB_RECURSE sources RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/src/*.c"
  "${SOURCE_DIR}/src/*.cc" "${SOURCE_DIR}/src/*.cpp" "${SOURCE_DIR}/src/*.h"
  "${SOURCE_DIR}/src/*.hpp")
if(NOT sources)
  message(FATAL_ERROR "no sources under ${SOURCE_DIR}/src")
endif()

set(faults)
foreach(source IN LISTS sources)
  set(forbidden)
  foreach(layer IN LISTS layers)
    string(REPLACE ":" ";" parts "${layer}")
    list(GET parts 0 folder)
    if(source MATCHES "^src/qcsdk/${folder}/")
      list(GET parts 1 forbidden)
    endif()
  endforeach()
  file(STRINGS "${SOURCE_DIR}/${source}" lines REGEX "^[ \t]*#[ \t]*include")
  foreach(line IN LISTS lines)
    if(NOT line MATCHES "include[ \t]*[<\"]([^>\"]+)[>\"]")
      continue()
    endif()
    set(path "${CMAKE_MATCH_1}")
    if(NOT source MATCHES "^src/platform/" AND path MATCHES "(^|/)(${library_pattern})/")
      list(APPEND faults "${source} includes ${path}: reach the library through src/platform/")
    elseif(forbidden AND path MATCHES "^(qcsdk/|\\.\\./)(${forbidden})/")
      list(APPEND faults "${source} includes ${path}: against the direction of the subsystems")
    endif()
  endforeach()
endforeach()

if(faults)
  list(JOIN faults "\n" text)
  message(FATAL_ERROR "${text}")
endif()
