# What `cmake --install` gives the developers of C and C++ programs that link the
# library: a CMake package (find_package(kelmediaremote) and the imported target
# kelmediaremote::kelmediaremote, with a version file), a pkg-config file, and
# the man pages.
include(CMakePackageConfigHelpers)

set(kel_package_dir ${CMAKE_INSTALL_LIBDIR}/cmake/kelmediaremote)
set(kel_package_work ${PROJECT_BINARY_DIR}/package)

# The library's file names come from the target, so the configured file goes
# through file(GENERATE) once more for them.
configure_package_config_file(cmake/kelmediaremoteConfig.cmake.in
  ${kel_package_work}/kelmediaremoteConfig.cmake.in
  INSTALL_DESTINATION ${kel_package_dir}
  PATH_VARS CMAKE_INSTALL_INCLUDEDIR CMAKE_INSTALL_LIBDIR)
file(GENERATE OUTPUT ${kel_package_work}/kelmediaremoteConfig.cmake
  INPUT ${kel_package_work}/kelmediaremoteConfig.cmake.in)
write_basic_package_version_file(${kel_package_work}/kelmediaremoteConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${kel_package_work}/kelmediaremoteConfig.cmake ${kel_package_work}/kelmediaremoteConfigVersion.cmake
  DESTINATION ${kel_package_dir})

install(CODE "
  set(KEL_PC_TEMPLATE \"${PROJECT_SOURCE_DIR}/cmake/kelmediaremote.pc.in\")
  set(KEL_PC_WORK \"${kel_package_work}\")
  set(KEL_LIBDIR \"${CMAKE_INSTALL_LIBDIR}\")
  set(KEL_INCLUDEDIR \"${CMAKE_INSTALL_INCLUDEDIR}\")
  set(PROJECT_VERSION \"${PROJECT_VERSION}\")
  include(\"${PROJECT_SOURCE_DIR}/cmake/kel_install_pkgconfig.cmake\")")

install(FILES docs/man/kel-mediaremote.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
if(NOT APPLE)
  install(FILES docs/man/kel-mediaremote-sim.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
