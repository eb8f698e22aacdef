# Run by CTest in script mode: stages the build's installation, checks it
# holds exactly the files a user gets, that its programs find its libraries,
# and that examples/ramp-lamp configures, builds and runs against it alone.
cmake_minimum_required(VERSION 3.25)

function(run)
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY ${WORK_DIR}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "Failed (${rc}): ${ARGN}\n${out}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

set(stage ${WORK_DIR}/stage)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${stage})

# Everything installed, and nothing else (no test, benchmark or static
# library): the listing must be exactly this.
set(expected
  bin/QuorvexControlPanel
  bin/quorvex-sim
  bin/quorvexctl
  include/quorvex/PsuDll/PsuDll.h
  include/quorvex/QuorvexDll/QuorvexDll.h
  include/quorvex/TallyDll/TallyDll.h
  include/quorvex/platform/win32.h
  include/quorvex/serial/DriverLog.h
  include/quorvex/serial/SerialPort.h
  lib/cmake/Quorvex/QuorvexConfig.cmake
  lib/cmake/Quorvex/QuorvexConfigVersion.cmake
  lib/cmake/Quorvex/QuorvexTargets-CONFIG.cmake
  lib/cmake/Quorvex/QuorvexTargets.cmake
  share/applications/quorvex-control-panel.desktop
  share/bash-completion/completions/quorvexctl
  share/icons/hicolor/16x16/apps/quorvex-control-panel.png
  share/man/man1/quorvexctl.1.gz
  share/quorvex/help/index.html)
foreach(library PsuDll QuorvexDll TallyDll platform)
  list(APPEND expected lib/lib${library}.so lib/lib${library}.so.${VERSION_MAJOR}
       lib/lib${library}.so.${VERSION})
endforeach()
file(GLOB_RECURSE found LIST_DIRECTORIES false RELATIVE ${stage} ${stage}/*)
list(TRANSFORM found REPLACE "QuorvexTargets-[a-z]+\\.cmake$" "QuorvexTargets-CONFIG.cmake")
list(SORT found)
list(SORT expected)
if(NOT found STREQUAL expected)
  string(REPLACE ";" "\n  " found "${found}")
  message(FATAL_ERROR "The installation holds:\n  ${found}")
endif()

# The installed programs find the installed libraries, not the build's.
foreach(program QuorvexControlPanel quorvex-sim quorvexctl)
  run(readelf -d ${stage}/bin/${program})
  if(NOT out MATCHES "R(UN)?PATH[^\n]*\\$ORIGIN/\\.\\./lib" OR out MATCHES "${BUILD_DIR}")
    message(FATAL_ERROR "${program} has the wrong run path:\n${out}")
  endif()
endforeach()
run(${CMAKE_COMMAND} -E env --unset=LD_LIBRARY_PATH ${stage}/bin/quorvex-sim --help)
run(${CMAKE_COMMAND} -E env --unset=LD_LIBRARY_PATH ${stage}/bin/quorvexctl --help)

# A consumer sees nothing but the staged tree.
run(${CMAKE_COMMAND} -S ${EXAMPLE_DIR} -B ${WORK_DIR}/example -G ${GENERATOR}
    -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_PREFIX_PATH=${stage} -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF)
run(${CMAKE_COMMAND} --build ${WORK_DIR}/example)
set(ramp ${CMAKE_COMMAND} -E env --unset=LD_LIBRARY_PATH XDG_CONFIG_HOME=${WORK_DIR}/config
    ${WORK_DIR}/example/ramp-lamp)
run(${ramp} --help)
if(NOT out MATCHES "^Usage: ramp-lamp COM")
  message(FATAL_ERROR "ramp-lamp --help printed:\n${out}")
endif()
# No supply anywhere: a clear failure, not a hang.
execute_process(COMMAND ${ramp} 200 1 WORKING_DIRECTORY ${WORK_DIR} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 1 OR NOT out MATCHES "No power supply answered on COM200")
  message(FATAL_ERROR "ramp-lamp without a supply ended with ${rc}:\n${out}")
endif()
