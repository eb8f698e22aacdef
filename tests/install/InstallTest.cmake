# Run by CTest in script mode: stages the build's installation, checks it
# holds exactly the files a user gets, that its programs find its libraries,
# and that examples/ramp-lamp (C++) and examples/head-status (C) configure,
# build and run against it alone.
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
  bin/quorvexd
  include/quorvex/PsuDll/PsuDll.h
  include/quorvex/QuorvexDll/QuorvexDll.h
  include/quorvex/TallyDll/TallyDll.h
  include/quorvex/platform/win32.h
  include/quorvex/serial/SerialPortSettings.h
  lib/cmake/Quorvex/QuorvexConfig.cmake
  lib/cmake/Quorvex/QuorvexConfigVersion.cmake
  lib/cmake/Quorvex/QuorvexTargets-CONFIG.cmake
  lib/cmake/Quorvex/QuorvexTargets.cmake
  lib/python3/dist-packages/quorvex/__init__.py
  lib/systemd/system/quorvexd.service
  share/applications/quorvex-control-panel.desktop
  share/bash-completion/completions/quorvexctl
  share/icons/hicolor/16x16/apps/quorvex-control-panel.png
  share/doc/quorvex/changelog.gz
  share/doc/quorvex/copyright
  share/man/man1/quorvexctl.1.gz
  share/quorvex/help/index.html)
foreach(library PsuDll QuorvexDll TallyDll quorvex-platform)
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

# The package's copyright statement in the machine-readable format, and a
# changelog whose latest entry is this version.
file(STRINGS ${stage}/share/doc/quorvex/copyright copyright)
list(GET copyright 0 format)
if(NOT format STREQUAL "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/"
   OR NOT copyright MATCHES ";Files: \\*;Copyright: [^;]+;License: ")
  message(FATAL_ERROR "share/doc/quorvex/copyright is not in the machine-readable format:\n${copyright}")
endif()
run(gzip -dc ${stage}/share/doc/quorvex/changelog.gz)
string(REPLACE "." "\\." version_pattern "${VERSION}")
if(NOT out MATCHES "^quorvex \\(${version_pattern}\\) [a-z]+; urgency=[a-z]+\n\n  \\* .*\n -- [^\n]+>  [A-Z][a-z][a-z], [0-9]")
  message(FATAL_ERROR "share/doc/quorvex/changelog.gz does not start with an entry of ${VERSION}:\n${out}")
endif()

# The .deb carries them where Debian policy asks.
run(${CMAKE_CPACK_COMMAND} -G DEB --config ${BUILD_DIR}/CPackConfig.cmake -B ${WORK_DIR}/package)
file(GLOB deb ${WORK_DIR}/package/*.deb)
run(dpkg-deb --contents ${deb})
foreach(doc copyright changelog.gz)
  if(NOT out MATCHES " \\./usr/share/doc/quorvex/${doc}\n")
    message(FATAL_ERROR "The package lacks /usr/share/doc/quorvex/${doc}:\n${out}")
  endif()
endforeach()
# And quorvexctl's manual page and completion where man and bash-completion
# look for them.
foreach(file share/man/man1/quorvexctl.1.gz share/bash-completion/completions/quorvexctl)
  if(NOT out MATCHES " \\./usr/${file}\n")
    message(FATAL_ERROR "The package lacks /usr/${file}:\n${out}")
  endif()
endforeach()

# The driver libraries load the platform library by its own name.
foreach(library PsuDll QuorvexDll TallyDll)
  run(readelf -d ${stage}/lib/lib${library}.so)
  if(NOT out MATCHES "NEEDED[^\n]*\\[libquorvex-platform\\.so\\.${VERSION_MAJOR}\\]")
    message(FATAL_ERROR "lib${library}.so does not load libquorvex-platform.so.${VERSION_MAJOR}:\n${out}")
  endif()
endforeach()

# The installed programs find the installed libraries, not the build's.
foreach(program QuorvexControlPanel quorvex-sim quorvexctl quorvexd)
  run(readelf -d ${stage}/bin/${program})
  if(NOT out MATCHES "R(UN)?PATH[^\n]*\\$ORIGIN/\\.\\./lib" OR out MATCHES "${BUILD_DIR}")
    message(FATAL_ERROR "${program} has the wrong run path:\n${out}")
  endif()
endforeach()
run(${CMAKE_COMMAND} -E env --unset=LD_LIBRARY_PATH ${stage}/bin/quorvex-sim --help)
run(${CMAKE_COMMAND} -E env --unset=LD_LIBRARY_PATH ${stage}/bin/quorvexctl --help)
run(${CMAKE_COMMAND} -E env --unset=LD_LIBRARY_PATH ${stage}/bin/quorvexd --help)

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

# A C program builds from the public headers and the imported targets alone,
# and without a head unit says so instead of hanging.
run(${CMAKE_COMMAND} -S ${C_EXAMPLE_DIR} -B ${WORK_DIR}/c-example -G ${GENERATOR}
    -DCMAKE_C_COMPILER=${CC} -DCMAKE_PREFIX_PATH=${stage} -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF
    -DCMAKE_COMPILE_WARNING_AS_ERROR=ON)
run(${CMAKE_COMMAND} --build ${WORK_DIR}/c-example)
set(status ${CMAKE_COMMAND} -E env --unset=LD_LIBRARY_PATH XDG_CONFIG_HOME=${WORK_DIR}/config
    ${WORK_DIR}/c-example/head-status)
run(${status} --help)
if(NOT out MATCHES "^Usage: head-status COM")
  message(FATAL_ERROR "head-status --help printed:\n${out}")
endif()
execute_process(COMMAND ${status} 200 WORKING_DIRECTORY ${WORK_DIR} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 1 OR NOT out MATCHES "No Quorvex head unit answered on COM200")
  message(FATAL_ERROR "head-status without a head unit ended with ${rc}:\n${out}")
endif()
