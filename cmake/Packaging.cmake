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

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorvex)
set(CPACK_PACKAGE_VENDOR "Quorvex")
set(CPACK_PACKAGE_CONTACT "Quorvex software <software@quorvex.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Quorvex light source control panel, drivers and simulated instruments")
set(CPACK_PACKAGE_DESCRIPTION
  "The Quorvex Control Panel program, quorvexctl (the instruments from a shell), the driver libraries of the head unit, the lamp's power supply and the elapsed-time counter with their headers and CMake package config, and quorvex-sim, the three instruments simulated on pseudo-terminals.")
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
