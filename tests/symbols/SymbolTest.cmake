# Run by CTest in script mode: reads the dynamic symbol table of one driver
# library (-DLIBRARY, with nm as -DNM) and fails on any defined symbol that
# is neither one of its exports (named -DPREFIX..., C or C++) nor an object
# of the standard library's namespace that the C++ ABI wants once per
# process. Prints those, each with the reason it stays.
cmake_minimum_required(VERSION 3.25)

execute_process(COMMAND ${NM} -D -C --defined-only ${LIBRARY}
  RESULT_VARIABLE rc OUTPUT_VARIABLE table ERROR_VARIABLE error)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${LIBRARY}: ${error}")
endif()

string(REPLACE ";" "\\;" table "${table}")
string(REPLACE "\n" ";" lines "${table}")
set(exports 0)
set(standard "")
set(foreign "")
foreach(line IN LISTS lines)
  # "<address> <kind> <name>"
  if(NOT line MATCHES "^[0-9a-f]+ [A-Za-z] (.+)$")
    continue()
  endif()
  set(name "${CMAKE_MATCH_1}")
  if(name MATCHES "spdlog|fmt::")
    list(APPEND foreign "${name}")
  elseif(name MATCHES "^${PREFIX}[A-Za-z_]+(\\(.*\\))?$")
    math(EXPR exports "${exports} + 1")
  elseif(name MATCHES "^((typeinfo|typeinfo name|vtable|guard variable) for )?std::")
    list(APPEND standard "${name}")
  else()
    list(APPEND foreign "${name}")
  endif()
endforeach()

if(exports EQUAL 0)
  message(FATAL_ERROR "${LIBRARY} exports no ${PREFIX} function")
endif()
message(STATUS "${LIBRARY}: ${exports} exports named ${PREFIX}")
if(standard)
  # libstdc++ declares namespace std with default visibility: the type
  # information of the std types the library's code uses (shared_ptr's
  # control blocks, its make_shared tag) is emitted with vague linkage and
  # stays visible, so that each type has one identity in the process and
  # shared_ptr's deleter look-up compares equal whichever library made it.
  string(REPLACE ";" "\n  " listed "${standard}")
  message(STATUS "Standard library objects the C++ ABI keeps visible:\n  ${listed}")
endif()
if(foreign)
  string(REPLACE ";" "\n  " listed "${foreign}")
  message(FATAL_ERROR "${LIBRARY} exports symbols that are not its own:\n  ${listed}")
endif()
