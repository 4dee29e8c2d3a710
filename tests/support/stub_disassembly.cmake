# Checks the built stoppoint in the module's disassembly: the stub builds no
# frame, saves no register and calls nothing before its fast-path return,
# which it reaches after exactly four memory loads; and the implementation's
# first instruction pushes the frame pointer, so that the word just below the
# stub's return-address slot is the caller's frame address.
#   cmake -DOBJDUMP=... -DIMAGE=... -P stub_disassembly.cmake
execute_process(COMMAND ${OBJDUMP} -d --no-show-raw-insn ${IMAGE} OUTPUT_VARIABLE listing RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "objdump failed on ${IMAGE}")
endif()

function(body_of symbol out)
  string(REGEX MATCH "<${symbol}>:\n[^\n]*(\n[^\n]+)*" body "${listing}")
  if(body STREQUAL "")
    message(FATAL_ERROR "${symbol} not found in ${IMAGE}")
  endif()
  set(${out} "${body}" PARENT_SCOPE)
endfunction()

body_of(__qex_stoppoint stub)
string(FIND "${stub}" "\tret" ret_at)
if(ret_at LESS 0)
  message(FATAL_ERROR "__qex_stoppoint has no return:\n${stub}")
endif()
string(SUBSTRING "${stub}" 0 ${ret_at} fast_path)
foreach(forbidden "\tpush" "\tsub +[^\n]*%rsp" "\tcall" "\tenter" "%rbp" "%rsp")
  if(fast_path MATCHES "${forbidden}")
    message(FATAL_ERROR "the stoppoint's fast path builds a frame or saves a register (${forbidden}):\n${fast_path}")
  endif()
endforeach()
string(REGEX MATCHALL "\\([^)]*\\)" loads "${fast_path}")
list(LENGTH loads load_count)
if(NOT load_count EQUAL 4)
  message(FATAL_ERROR "the stoppoint's fast path reads memory ${load_count} times, not 4:\n${fast_path}")
endif()

body_of(__qex_stoppoint_implementation implementation)
string(REGEX MATCH "\n[^\n]*\t([a-z]+[^\n]*)" first "${implementation}")
if(NOT CMAKE_MATCH_1 MATCHES "^push +%rbp")
  message(FATAL_ERROR "the implementation does not begin by pushing the frame pointer: ${CMAKE_MATCH_1}")
endif()
message(STATUS "stoppoint stub:${fast_path}")
