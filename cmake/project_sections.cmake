# Writes the assembly source of the module's section table,
# __qex_project_sections: 65 records of 24 bytes (begin, end, eight name
# bytes), the sections of the image in image order, the relocation section
# left out, then a record with a null begin.
#
#   cmake -DMODE=image -DIMAGE=<dll> -DOUT=<file.S> -P project_sections.cmake
#       the records of the image's sections, from its section headers;
#   cmake -DMODE=placeholder -DOUT=<file.S> -P project_sections.cmake
#       the table of the first link, whose image gives the section headers;
#   cmake -DMODE=empty -DOUT=<file.S> -P project_sections.cmake
#       the table of programs that link the module statically: no records;
#   cmake -DMODE=check -DIMAGE=<dll> -DOUT=<file.S> -P project_sections.cmake
#       fails unless the image's sections give exactly the table in OUT.
#
# A record's addresses are written as __ImageBase plus the section's relative
# address, so the linker gives each of them a base relocation and they hold
# wherever the image loads. The records behind the terminator point at the
# image base: every record but the terminator carries two relocations in both
# links, so the relocation section has the same size and the second link lays
# the image out exactly as the first one did (MODE=check proves it).

set(capacity 64)

# The value of `bytes` little-endian bytes at byte `offset` of the hex text.
function(le_value hex offset bytes out)
  set(value "")
  math(EXPR last "${bytes} - 1")
  foreach(i RANGE ${last})
    math(EXPR at "(${offset} + ${i}) * 2")
    string(SUBSTRING "${hex}" ${at} 2 byte)
    set(value "${byte}${value}")
  endforeach()
  math(EXPR value "0x${value}" OUTPUT_FORMAT DECIMAL)
  set(${out} ${value} PARENT_SCOPE)
endfunction()

# ".byte" line of a name, cut or NUL-padded to eight characters.
function(name_bytes name out)
  string(SUBSTRING "${name}" 0 8 name)
  string(HEX "${name}" hex)
  set(line "        .byte   ")
  foreach(i RANGE 7)
    math(EXPR at "${i} * 2")
    string(LENGTH "${hex}" length)
    if(at LESS length)
      string(SUBSTRING "${hex}" ${at} 2 byte)
    else()
      set(byte "00")
    endif()
    if(i GREATER 0)
      string(APPEND line ", ")
    endif()
    string(APPEND line "0x${byte}")
  endforeach()
  set(${out} "${line}\n" PARENT_SCOPE)
endfunction()

set(base_record "        .quad   __ImageBase, __ImageBase\n        .byte   0, 0, 0, 0, 0, 0, 0, 0\n")
set(null_record "        .quad   0, 0\n        .byte   0, 0, 0, 0, 0, 0, 0, 0\n")

set(records "")
if(MODE STREQUAL "image" OR MODE STREQUAL "check")
  file(READ "${IMAGE}" headers HEX LIMIT 4096)
  le_value("${headers}" 60 4 nt)
  math(EXPR file_header "${nt} + 4")
  le_value("${headers}" ${file_header}+2 2 section_count)
  le_value("${headers}" ${file_header}+8 4 symbol_table)
  le_value("${headers}" ${file_header}+12 4 symbol_count)
  le_value("${headers}" ${file_header}+16 2 optional_size)
  math(EXPR optional "${file_header} + 20")
  le_value("${headers}" ${optional}+112+5*8 4 reloc_rva)
  le_value("${headers}" ${optional}+112+5*8+4 4 reloc_size)
  math(EXPR strings "${symbol_table} + ${symbol_count} * 18")
  set(string_table "")
  if(symbol_table GREATER 0)
    file(READ "${IMAGE}" string_table HEX OFFSET ${strings})
  endif()
  math(EXPR first_section "${optional} + ${optional_size}")
  set(used 0)
  math(EXPR last "${section_count} - 1")
  foreach(i RANGE ${last})
    math(EXPR at "${first_section} + ${i} * 40")
    math(EXPR name_at "${at} * 2")
    string(SUBSTRING "${headers}" ${name_at} 16 name_hex)
    string(REGEX REPLACE "(00)+$" "" name_hex "${name_hex}")
    set(name "")
    string(LENGTH "${name_hex}" name_length)
    if(name_length GREATER 0)
      math(EXPR last_char "${name_length} / 2 - 1")
      foreach(c RANGE ${last_char})
        math(EXPR c_at "${c} * 2")
        string(SUBSTRING "${name_hex}" ${c_at} 2 c_hex)
        math(EXPR code "0x${c_hex}")
        string(ASCII ${code} ch)
        string(APPEND name "${ch}")
      endforeach()
    endif()
    le_value("${headers}" ${at}+8 4 virtual_size)
    le_value("${headers}" ${at}+12 4 rva)
    if(name MATCHES "^/([0-9]+)$" AND NOT string_table STREQUAL "")
      # A long name: an offset into the string table, read up to its NUL.
      math(EXPR from "${CMAKE_MATCH_1} * 2")
      string(SUBSTRING "${string_table}" ${from} 128 long_hex)
      set(name "")
      foreach(c RANGE 63)
        math(EXPR c_at "${c} * 2")
        string(SUBSTRING "${long_hex}" ${c_at} 2 c_hex)
        if(c_hex STREQUAL "00" OR c_hex STREQUAL "")
          break()
        endif()
        math(EXPR code "0x${c_hex}")
        string(ASCII ${code} ch)
        string(APPEND name "${ch}")
      endforeach()
    endif()
    if((reloc_size GREATER 0 AND rva EQUAL reloc_rva) OR name STREQUAL ".reloc")
      continue()
    endif()
    if(used EQUAL capacity)
      message(FATAL_ERROR "${IMAGE}: more than ${capacity} sections")
    endif()
    math(EXPR end "${rva} + ${virtual_size}" OUTPUT_FORMAT HEXADECIMAL)
    math(EXPR begin "${rva}" OUTPUT_FORMAT HEXADECIMAL)
    name_bytes("${name}" name_line)
    string(APPEND records "        .quad   __ImageBase + ${begin}, __ImageBase + ${end}  /* ${name} */\n${name_line}")
    math(EXPR used "${used} + 1")
  endforeach()
  string(APPEND records "${null_record}")
  math(EXPR used "${used} + 1")
  while(used LESS_EQUAL capacity)
    string(APPEND records "${base_record}")
    math(EXPR used "${used} + 1")
  endwhile()
elseif(MODE STREQUAL "placeholder")
  foreach(i RANGE 1 ${capacity})
    string(APPEND records "${base_record}")
  endforeach()
  string(APPEND records "${null_record}")
elseif(MODE STREQUAL "empty")
  foreach(i RANGE ${capacity})
    string(APPEND records "${null_record}")
  endforeach()
else()
  message(FATAL_ERROR "MODE must be image, placeholder, empty or check")
endif()

set(text "/* The module's section table, written by cmake/project_sections.cmake (${MODE}). */
        .data
        .globl  __qex_project_sections
        .p2align 3
__qex_project_sections:
${records}")

if(MODE STREQUAL "check")
  file(READ "${OUT}" expected)
  string(REPLACE "(check)" "(image)" text "${text}")
  if(NOT text STREQUAL expected)
    message(FATAL_ERROR "${IMAGE}: the second link moved a section; its table no longer matches ${OUT}")
  endif()
else()
  file(WRITE "${OUT}.new" "${text}")
  file(COPY_FILE "${OUT}.new" "${OUT}" ONLY_IF_DIFFERENT)
  file(REMOVE "${OUT}.new")
endif()
