# What `cmake --install` puts in place: the library (versioned SONAME) and its
# header, a CMake package (find_package(quorvex-dbdesk-core) gives the
# imported target quorvex::dbdesk-core), a pkg-config file and the reply
# reference.
include(CMakePackageConfigHelpers)

set(QV_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/quorvex-dbdesk-core)

set_target_properties(quorvex-dbdesk-core PROPERTIES EXPORT_NAME dbdesk-core)
install(TARGETS quorvex-dbdesk-core EXPORT quorvex-dbdesk-core-targets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/quorvex)
install(EXPORT quorvex-dbdesk-core-targets NAMESPACE quorvex::
  DESTINATION ${QV_CMAKE_DIR})

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/quorvex-dbdesk-core-config.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/quorvex-dbdesk-core-config.cmake
  INSTALL_DESTINATION ${QV_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/quorvex-dbdesk-core-config-version.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/quorvex-dbdesk-core-config.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/quorvex-dbdesk-core-config-version.cmake
  DESTINATION ${QV_CMAKE_DIR})

# The .pc file finds the prefix from its own place, so it stays right for
# whatever prefix `cmake --install --prefix` is given.
file(RELATIVE_PATH QV_PC_TO_PREFIX /p/${CMAKE_INSTALL_LIBDIR}/pkgconfig /p)
configure_file(${CMAKE_CURRENT_LIST_DIR}/quorvex-dbdesk-core.pc.in
  ${CMAKE_CURRENT_BINARY_DIR}/quorvex-dbdesk-core.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/quorvex-dbdesk-core.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

install(FILES include/quorvex/REPLIES.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
