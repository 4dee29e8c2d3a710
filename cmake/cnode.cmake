# Helpers shared by the build of the module, the stand-ins, the tests and the benchmarks.

# Concatenates .def fragments (lines under EXPORTS) into one module-definition file.
# A DLL's export list, or an import description, is kept one family per fragment.
function(cnode_concat_def out library)
  set(fragments ${ARGN})
  list(SORT fragments)
  set(text "LIBRARY ${library}\nEXPORTS\n")
  foreach(f IN LISTS fragments)
    file(READ ${f} body)
    string(APPEND text "${body}\n")
  endforeach()
  file(CONFIGURE OUTPUT ${out} CONTENT "${text}")
  # Re-run the concatenation whenever a fragment changes.
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${fragments})
endfunction()

# Adds a GoogleTest executable that runs under Wine.
#   cnode_add_test(NAME SOURCES a.cpp ... [LIBS x y ...] [ENVIRONMENT VAR=value ...])
# ENVIRONMENT variables are set on the Unix side before Wine starts, where they
# decide what Wine derives from them (the ANSI code page from LANG and LC_ALL);
# they apply to test discovery and to every test of the executable.
function(cnode_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;ENVIRONMENT" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  if(T_ENVIRONMENT)
    set_target_properties(${name} PROPERTIES
      CROSSCOMPILING_EMULATOR "env;${T_ENVIRONMENT};${CMAKE_CROSSCOMPILING_EMULATOR}")
  endif()
  target_link_libraries(${name} PRIVATE ${T_LIBS} gtest gtest_main)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/common)
  # A parameterised test is named by its suite's name generator; without
  # NO_PRETTY_VALUES the name would also carry gtest's dump of the parameter.
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120 NO_PRETTY_VALUES
                       PROPERTIES TIMEOUT 300)
endfunction()

# Adds a benchmark executable (not run by ctest).
function(cnode_add_bench name)
  cmake_parse_arguments(B "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${B_SOURCES})
  target_link_libraries(${name} PRIVATE ${B_LIBS})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/bench)
endfunction()

# Makes an INTERFACE target that links an import library of a DLL, built with
# dlltool from .def fragments (an import library of just a DLL's test controls,
# say, or the module's declared view of the engine).
#   cnode_import_library(NAME LIBRARY x.dll FRAGMENTS f.def ... [INCLUDE dir] [DEPENDS target ...])
# The generating target is NAME_gen.
function(cnode_import_library name)
  cmake_parse_arguments(I "" "LIBRARY;INCLUDE" "FRAGMENTS;DEPENDS" ${ARGN})
  set(def ${CMAKE_CURRENT_BINARY_DIR}/${name}.def)
  set(lib ${CMAKE_ARCHIVE_OUTPUT_DIRECTORY}/lib${name}.a)
  cnode_concat_def(${def} ${I_LIBRARY} ${I_FRAGMENTS})
  add_custom_command(OUTPUT ${lib}
    COMMAND ${CMAKE_DLLTOOL} -d ${def} -l ${lib}
    DEPENDS ${def}
    COMMENT "Import library ${name} of ${I_LIBRARY}")
  add_custom_target(${name}_gen DEPENDS ${lib})
  add_library(${name} INTERFACE)
  target_link_libraries(${name} INTERFACE ${lib})
  if(I_INCLUDE)
    target_include_directories(${name} INTERFACE ${I_INCLUDE})
  endif()
  add_dependencies(${name} ${name}_gen ${I_DEPENDS})
endfunction()
