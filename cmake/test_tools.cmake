# Tests that run tools of the system (an X server, xdotool, libhivex's hivexget, the
# distribution's package checkers). A missing tool does not stop the configure: the tests that
# need it are still listed, and ctest reports them as skipped, saying what they need.

# vantorio_find_tools(<out> <VAR> <program> [<VAR> <program>]...): finds each program into the
# cache variable VAR and sets <out> to the list of the programs not found.
function(vantorio_find_tools out)
  set(missing)
  while(ARGN)
    list(POP_FRONT ARGN var program)
    find_program(${var} ${program})
    if(NOT ${var})
      list(APPEND missing ${program})
    endif()
  endwhile()
  set(${out} ${missing} PARENT_SCOPE)
endfunction()

# vantorio_add_skipped_test(<name> <missing tools>): a test that only says it was skipped, and why.
function(vantorio_add_skipped_test name missing)
  list(JOIN missing ", " tools)
  set(reason "${tools} not found (scripts/deps test installs the tests' tools)")
  message(STATUS "Test ${name} will be skipped: ${reason}")
  add_test(NAME ${name} COMMAND ${CMAKE_COMMAND} -E echo "skipped: ${reason}")
  set_tests_properties(${name} PROPERTIES SKIP_REGULAR_EXPRESSION "skipped: ")
endfunction()
