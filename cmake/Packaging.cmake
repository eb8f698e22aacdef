# Installation of the CMake package config (find_package(Quorvex)) and the
# CPack settings of the Debian package. Included at the end of the top-level
# CMakeLists.txt, after every installed target is defined.
include(CMakePackageConfigHelpers)

set(QV_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Quorvex)
install(EXPORT QuorvexTargets NAMESPACE Quorvex:: DESTINATION ${QV_CMAKE_DIR})
configure_package_config_file(cmake/QuorvexConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/QuorvexConfig.cmake
  INSTALL_DESTINATION ${QV_CMAKE_DIR})
# The exports change only with the major version, as the SONAMEs do.
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/QuorvexConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/QuorvexConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/QuorvexConfigVersion.cmake
  DESTINATION ${QV_CMAKE_DIR})

set(QV_PACKAGE_NAME quorvex)

# Debian policy asks every package for its copyright statement (here in the
# machine-readable format) and its changelog, compressed with gzip -9n, in
# /usr/share/doc/<package>/; the package is native (its version has no
# Debian revision), so the changelog is changelog.gz.
find_program(QV_GZIP gzip REQUIRED)
set(QV_DEBIAN_DIR ${CMAKE_CURRENT_BINARY_DIR}/debian)
add_custom_command(OUTPUT ${QV_DEBIAN_DIR}/changelog.gz
  COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/cmake/debian/changelog ${QV_DEBIAN_DIR}/changelog
  COMMAND ${QV_GZIP} -9nf ${QV_DEBIAN_DIR}/changelog
  DEPENDS ${PROJECT_SOURCE_DIR}/cmake/debian/changelog
  COMMENT "Compressing the Debian changelog")
add_custom_target(debian_changelog ALL DEPENDS ${QV_DEBIAN_DIR}/changelog.gz)
install(FILES cmake/debian/copyright ${QV_DEBIAN_DIR}/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${QV_PACKAGE_NAME})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${QV_PACKAGE_NAME})
set(CPACK_PACKAGE_VENDOR "Quorvex")
set(CPACK_PACKAGE_CONTACT "Quorvex software <software@quorvex.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Quorvex light source control panel, drivers and simulated instruments")
set(CPACK_PACKAGE_DESCRIPTION
  "The Quorvex Control Panel program, quorvexctl (the instruments from a shell), the driver libraries of the head unit, the lamp's power supply and the elapsed-time counter with their headers and CMake package config, quorvex-sim, the three instruments simulated on pseudo-terminals, and quorvexd, the network daemon that shares the light source with many programs as one SCPI-over-TCP instrument (its systemd unit installed but not enabled), with the quorvex Python package for PyVISA and PyMeasure.")
# The Python package needs PyVISA, its pure-Python backend and PyMeasure;
# the programs do not.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "python3, python3-pyvisa, python3-pyvisa-py, python3-pymeasure")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
# dpkg-shlibdeps turns the programs' and libraries' NEEDED entries into the
# Debian runtime packages (Qt, libserialport, libstdc++ ...); the package's
# own libraries are found in its lib folder and depend on nothing.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/lib)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
