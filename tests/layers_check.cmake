# Checks that the core's folders include one way only: a file under
# src/core/<layer>/ may include headers of its own layer and of the layers
# below it, never of a layer above or beside it, and never a front end's or
# back end's header. Run with: cmake -DSOURCE_DIR=<repo> -P layers_check.cmake
#
# The order, lowest first; programming and tools sit side by side, the
# production record above both.
cmake_minimum_required(VERSION 3.25)
set(layers platform device protocol inventory programming tools history app)
set(rank_platform 0)
set(rank_device 1)
set(rank_protocol 2)
set(rank_inventory 3)
set(rank_programming 4)
set(rank_tools 4)
set(rank_history 5)
set(rank_app 6)
# Folders outside the core that no core file may reach.
set(outside sim usb usbemu widgets gui cli)

if(NOT SOURCE_DIR)
  message(FATAL_ERROR "SOURCE_DIR is not set")
endif()

set(problems "")
set(checked 0)
foreach(layer ${layers})
  file(GLOB_RECURSE files ${SOURCE_DIR}/src/core/${layer}/*.h ${SOURCE_DIR}/src/core/${layer}/*.cpp)
  foreach(file ${files})
    math(EXPR checked "${checked} + 1")
    file(STRINGS ${file} includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"[^\"]+\"")
    foreach(line ${includes})
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*" "\\1" target "${line}")
      if(NOT target MATCHES "/")
        continue()
      endif()
      string(REGEX REPLACE "/.*" "" folder "${target}")
      file(RELATIVE_PATH shown ${SOURCE_DIR} ${file})
      if(folder IN_LIST outside)
        string(APPEND problems "  ${shown} includes \"${target}\", outside the core\n")
      elseif(folder IN_LIST layers AND NOT folder STREQUAL layer)
        if(NOT rank_${folder} LESS rank_${layer})
          string(APPEND problems "  ${shown} (${layer}) includes \"${target}\" (${folder}), not a lower layer\n")
        endif()
      endif()
    endforeach()
  endforeach()
endforeach()

if(checked EQUAL 0)
  message(FATAL_ERROR "no core sources found under ${SOURCE_DIR}/src/core")
endif()
if(problems)
  message(FATAL_ERROR "includes against the layer order:\n${problems}")
endif()
message(STATUS "layers: ${checked} core files include one way only")
