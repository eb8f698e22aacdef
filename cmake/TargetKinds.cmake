# One function per kind of target the project builds, so that every driver
# library and every test program is made the same way. Included once from
# the top-level CMakeLists.txt, before the subdirectories.
include(GoogleTest)

# qv_driver_library(<name> HEADER <public header> SOURCES <files...>
#                   [LIBS <private static libraries...>])
#
# A driver library: shared, versioned like the project (its SONAME changes
# with the major version only), with hidden symbols, so that nothing but
# the functions its header marks for export leaves it. The static libraries
# linked in (the serial transport, the driver log and spdlog's inline code
# with them) are kept out of the dynamic symbol table by --exclude-libs:
# a program that links another spdlog next to the library can never bind to
# ours. Installed with the export set of find_package(Quorvex) and its
# public header; Quorvex::<name> names it in the tree as it does installed.
function(qv_driver_library name)
  cmake_parse_arguments(ARG "" "HEADER" "SOURCES;LIBS" ${ARGN})
  add_library(${name} SHARED ${ARG_SOURCES})
  add_library(Quorvex::${name} ALIAS ${name})
  target_include_directories(${name} PUBLIC
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}> $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/quorvex>)
  target_link_libraries(${name}
    PUBLIC platform
    PRIVATE ${ARG_LIBS} driversupport serialport replytext driverlog Threads::Threads)
  set_target_properties(${name} PROPERTIES
    VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR}
    C_VISIBILITY_PRESET hidden CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  target_link_options(${name} PRIVATE -Wl,--exclude-libs,ALL)
  install(TARGETS ${name} EXPORT QuorvexTargets LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
  install(FILES ${ARG_HEADER} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/quorvex/${name})
endfunction()

# qv_test_program(<name> PREFIX <ctest prefix> SOURCES <files...>
#                 [LIBS <libraries...>] [NO_PRETTY_VALUES]
#                 [PROPERTIES <ctest properties...>])
#
# A GoogleTest program, linked with gtest_main and the shared test support,
# whose cases are registered twice: the normal ones, and the ones whose name
# begins with Slow (they wait out a time-out of the system itself) with the
# label "slow", so that `ctest -LE slow` leaves them out.
function(qv_test_program name)
  cmake_parse_arguments(ARG "NO_PRETTY_VALUES" "PREFIX" "SOURCES;LIBS;PROPERTIES" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} testsupport GTest::gtest_main)
  set(pretty "")
  if(ARG_NO_PRETTY_VALUES)
    set(pretty NO_PRETTY_VALUES)
  endif()
  gtest_discover_tests(${name} TEST_PREFIX "${ARG_PREFIX}" ${pretty}
    TEST_FILTER "-*.Slow*" DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT 120 ${ARG_PROPERTIES})
  gtest_discover_tests(${name} TEST_PREFIX "${ARG_PREFIX}" ${pretty}
    TEST_FILTER "*.Slow*" DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT 120 LABELS slow ${ARG_PROPERTIES})
endfunction()
