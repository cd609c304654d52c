# What `cmake --install` gives the developers of C and C++ programs that link the
# library: a CMake package (find_package(kelmediaremote) and the imported target
# kelmediaremote::kelmediaremote, with a version file), a pkg-config file, and
# the man pages.
include(CMakePackageConfigHelpers)

set(kel_package_dir ${CMAKE_INSTALL_LIBDIR}/cmake/kelmediaremote)
install(EXPORT kelmediaremoteTargets NAMESPACE kelmediaremote:: DESTINATION ${kel_package_dir})
configure_package_config_file(cmake/kelmediaremoteConfig.cmake.in
  ${PROJECT_BINARY_DIR}/package/kelmediaremoteConfig.cmake INSTALL_DESTINATION ${kel_package_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/package/kelmediaremoteConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/package/kelmediaremoteConfig.cmake
  ${PROJECT_BINARY_DIR}/package/kelmediaremoteConfigVersion.cmake DESTINATION ${kel_package_dir})

# The pkg-config file finds the tree from its own folder (${pcfiledir}), so that
# it holds wherever the tree is installed, moved or staged.
file(RELATIVE_PATH kel_pc_to_prefix ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" kel_pc_to_prefix "\${pcfiledir}/${kel_pc_to_prefix}")
foreach(kind LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${kind}}")
    set(KEL_PC_${kind} "${CMAKE_INSTALL_${kind}}")
  else()
    set(KEL_PC_${kind} "\${prefix}/${CMAKE_INSTALL_${kind}}")
  endif()
endforeach()
set(KEL_PC_PREFIX "${kel_pc_to_prefix}")
configure_file(cmake/kelmediaremote.pc.in ${PROJECT_BINARY_DIR}/package/kelmediaremote.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/package/kelmediaremote.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

install(FILES docs/man/kel-mediaremote.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
if(NOT APPLE)
  install(FILES docs/man/kel-mediaremote-sim.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
