# What `cmake --install` and `cpack -G DEB` put on a host developer's machine: the library with its
# SONAME, the header, a pkg-config file, a CMake package (find_package(Quillbox) gives
# Quillbox::quillbox), the quillbox command and its manual page.
include(CMakePackageConfigHelpers)

set(QB_CMAKE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Quillbox)

install(TARGETS QUILLBOXCE EXPORT QuillboxTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT development
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/include/quillbox/quillbox.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/quillbox COMPONENT development)

install(EXPORT QuillboxTargets NAMESPACE Quillbox:: DESTINATION ${QB_CMAKE_PACKAGE_DIR}
        COMPONENT development)
configure_package_config_file(${CMAKE_CURRENT_SOURCE_DIR}/cmake/QuillboxConfig.cmake.in
                              ${CMAKE_CURRENT_BINARY_DIR}/QuillboxConfig.cmake
                              INSTALL_DESTINATION ${QB_CMAKE_PACKAGE_DIR})
# Versions before 1.0 make no promise between minor versions.
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/QuillboxConfigVersion.cmake
                                 COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/QuillboxConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/QuillboxConfigVersion.cmake
        DESTINATION ${QB_CMAKE_PACKAGE_DIR} COMPONENT development)

# pkg-config: paths relative to the prefix the file is installed under, so a relocated tree works.
file(RELATIVE_PATH QB_PC_TO_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/cmake/quillbox.pc.in
               ${CMAKE_CURRENT_BINARY_DIR}/quillbox.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/quillbox.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)

if(TARGET quillbox)
  # The command finds the library beside it also in a private prefix.
  file(RELATIVE_PATH qb_bin_to_lib ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
  set_target_properties(quillbox PROPERTIES INSTALL_RPATH "$ORIGIN/${qb_bin_to_lib}")
  install(TARGETS quillbox RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
  configure_file(${CMAKE_CURRENT_SOURCE_DIR}/tools/quillbox.1.in
                 ${CMAKE_CURRENT_BINARY_DIR}/quillbox.1 @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/quillbox.1
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT runtime)
endif()

# One Debian package with all of it.
set(CPACK_PACKAGE_NAME quillbox)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "serial communication library for operator panels (Modbus RTU/ASCII)")
set(CPACK_PACKAGE_CONTACT "Quillbox developers <quillbox@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEB_COMPONENT_INSTALL OFF)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
include(CPack)

# The Python package, pure Python: where Debian's python3 finds it under /usr.
install(DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/python/quillbox
        DESTINATION lib/python3/dist-packages COMPONENT runtime
        PATTERN __pycache__ EXCLUDE)

# The reference of the C interface from the header (doxygen; every warning is an error).
find_program(QB_DOXYGEN doxygen)
if(QB_DOXYGEN)
  configure_file(${CMAKE_CURRENT_SOURCE_DIR}/docs/Doxyfile.in ${CMAKE_CURRENT_BINARY_DIR}/Doxyfile
                 @ONLY)
  add_custom_target(doc COMMAND ${QB_DOXYGEN} ${CMAKE_CURRENT_BINARY_DIR}/Doxyfile
                    DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/include/quillbox/quillbox.h
                    COMMENT "Building the C interface reference")
endif()
