cmake_minimum_required(VERSION 3.25)
# Turns sdcc's Intel HEX output into a C++ table of LoaderRecord entries.
#   cmake -DINPUT=loader.ihx -DOUTPUT=out.inc -DNAME=Fx2EepromLoader -DLIMIT=0x2000 -P IhxToLoaderTable.cmake
# One record per data line, in file order, then the end record. The output
# holds only the bytes, so it is the same on every build of the same source.
# NO_HEX_CONVERSION: file(STRINGS) would otherwise turn Intel HEX into binary.
file(STRINGS "${INPUT}" lines NO_HEX_CONVERSION)
math(EXPR limit "${LIMIT}" OUTPUT_FORMAT DECIMAL)
set(bytes "")
set(records "")
set(offset 0)
set(top 0)
foreach(line IN LISTS lines)
  string(STRIP "${line}" line)
  if(NOT line MATCHES "^:([0-9A-Fa-f][0-9A-Fa-f])([0-9A-Fa-f][0-9A-Fa-f][0-9A-Fa-f][0-9A-Fa-f])([0-9A-Fa-f][0-9A-Fa-f])([0-9A-Fa-f]*)$")
    message(FATAL_ERROR "${INPUT}: not an Intel HEX line: ${line}")
  endif()
  math(EXPR length "0x${CMAKE_MATCH_1}" OUTPUT_FORMAT DECIMAL)
  math(EXPR address "0x${CMAKE_MATCH_2}" OUTPUT_FORMAT DECIMAL)
  math(EXPR type "0x${CMAKE_MATCH_3}" OUTPUT_FORMAT DECIMAL)
  set(data "${CMAKE_MATCH_4}")
  if(type EQUAL 1)
    break()
  endif()
  if(NOT type EQUAL 0)
    message(FATAL_ERROR "${INPUT}: record type ${type} is not expected from sdcc")
  endif()
  math(EXPR end "${address} + ${length}")
  if(end GREATER limit)
    message(FATAL_ERROR "${INPUT}: the program reaches ${end}, beyond its limit ${LIMIT}")
  endif()
  if(end GREATER top)
    set(top ${end})
  endif()
  set(row "")
  math(EXPR last "${length} - 1")
  if(length GREATER 0)
    foreach(i RANGE 0 ${last})
      math(EXPR at "2 * ${i}")
      string(SUBSTRING "${data}" ${at} 2 byte)
      string(APPEND row "0x${byte},")
    endforeach()
  endif()
  string(APPEND bytes "    ${row}\n")
  math(EXPR hexAddress "${address}" OUTPUT_FORMAT HEXADECIMAL)
  string(APPEND records "    {${length}, ${hexAddress}, 0, k${NAME}Bytes + ${offset}},\n")
  math(EXPR offset "${offset} + ${length}")
endforeach()
file(WRITE "${OUTPUT}.tmp"
  "// Generated from ${NAME}'s Intel HEX output; do not edit.\n"
  "namespace {\n"
  "const std::uint8_t k${NAME}Bytes[${offset}] = {\n${bytes}};\n"
  "}  // namespace\n"
  "const LoaderRecord ${NAME}[] = {\n${records}    {0, 0x0, 1, nullptr},\n};\n"
  "const std::uint32_t ${NAME}End = ${top};\n")
# Only a changed table is rewritten, so an unchanged loader rebuilds nothing.
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
