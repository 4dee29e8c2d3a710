# Build rules of the linkage table: the module's objects are scanned after
# they are compiled, and the generated unit is compiled into the DLL and the
# static library beside them (it is not one of cnode_objects, which it lists).
#   cnode_linkage_table(<output variable>)
function(cnode_linkage_table out_var)
  set(object_list ${CMAKE_CURRENT_BINARY_DIR}/linkage_objects.txt)
  set(generated ${CMAKE_CURRENT_BINARY_DIR}/linkage_table.c)
  set(script ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/linkage_table.cmake)
  file(GENERATE OUTPUT ${object_list} CONTENT "$<JOIN:$<TARGET_OBJECTS:cnode_objects>,\n>\n")
  set(windows_libraries)
  foreach(name kernel32 user32 advapi32 shell32)
    find_library(CNODE_WINDOWS_IMPORT_${name} ${name} REQUIRED)
    list(APPEND windows_libraries ${CNODE_WINDOWS_IMPORT_${name}})
  endforeach()
  string(REPLACE ";" "," windows_argument "${windows_libraries}")
  add_custom_command(OUTPUT ${generated}
    COMMAND ${CMAKE_COMMAND} -DNM=${CMAKE_NM} -DOBJECT_LIST=${object_list}
            "-DWINDOWS_IMPORT_LIBRARIES=${windows_argument}" -DOUTPUT=${generated} -P ${script}
    DEPENDS $<TARGET_OBJECTS:cnode_objects> ${object_list} ${script}
    COMMENT "Linkage table of the module's functions"
    VERBATIM)
  set(${out_var} ${generated} PARENT_SCOPE)
endfunction()
