# What `cmake --install` puts under the prefix: the header, the library with
# its message file beside it (start-up looks in the module's own directory),
# the console program, a CMake package (find_package(klsol32) gives the
# target klsol32::klsol32) and a pkg-config file.
include(CMakePackageConfigHelpers)

# The installed console finds the installed library relative to itself.
file(RELATIVE_PATH KLSOL_BIN_TO_LIB
  ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR} ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR})
set_target_properties(klsol PROPERTIES INSTALL_RPATH "$ORIGIN/${KLSOL_BIN_TO_LIB}")

install(TARGETS klsol32 EXPORT klsol32Targets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${KLSOL_OUT}/kl-run.msg DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(TARGETS klsol RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

set(KLSOL_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/klsol32)
install(EXPORT klsol32Targets NAMESPACE klsol32:: DESTINATION ${KLSOL_CMAKE_DIR})
configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/klsol32Config.cmake.in
  ${CMAKE_BINARY_DIR}/klsol32Config.cmake INSTALL_DESTINATION ${KLSOL_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/klsol32ConfigVersion.cmake COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/klsol32Config.cmake ${CMAKE_BINARY_DIR}/klsol32ConfigVersion.cmake
  DESTINATION ${KLSOL_CMAKE_DIR})

# The .pc file names its directories relative to its own place, so the
# tree works wherever it is installed (cmake --install --prefix) or moved.
file(RELATIVE_PATH KLSOL_PC_TO_PREFIX
  ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" KLSOL_PC_TO_PREFIX "${KLSOL_PC_TO_PREFIX}")
configure_file(${CMAKE_SOURCE_DIR}/cmake/klsol32.pc.in ${CMAKE_BINARY_DIR}/klsol32.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/klsol32.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
