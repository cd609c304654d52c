# Run by `cmake --install` (install(CODE) in kel_package.cmake): writes
# kelmediaremote.pc for the prefix being installed into, which `--prefix` may
# have changed since configuring, and installs it (DESTDIR and the install
# manifest included, as for every other file).
# Takes KEL_PC_TEMPLATE, KEL_PC_WORK, KEL_LIBDIR, KEL_INCLUDEDIR and PROJECT_VERSION.

# A folder as the file names it: relative folders live under ${prefix}.
function(kel_pc_folder out folder)
  if(IS_ABSOLUTE "${folder}")
    set(${out} "${folder}" PARENT_SCOPE)
  else()
    set(${out} "\${prefix}/${folder}" PARENT_SCOPE)
  endif()
endfunction()

set(KEL_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
kel_pc_folder(KEL_PC_LIBDIR "${KEL_LIBDIR}")
kel_pc_folder(KEL_PC_INCLUDEDIR "${KEL_INCLUDEDIR}")
configure_file("${KEL_PC_TEMPLATE}" "${KEL_PC_WORK}/kelmediaremote.pc" @ONLY)

if(IS_ABSOLUTE "${KEL_LIBDIR}")
  set(kel_pc_destination "${KEL_LIBDIR}/pkgconfig")
else()
  set(kel_pc_destination "${CMAKE_INSTALL_PREFIX}/${KEL_LIBDIR}/pkgconfig")
endif()
file(INSTALL DESTINATION "${kel_pc_destination}" TYPE FILE FILES "${KEL_PC_WORK}/kelmediaremote.pc")
