# The packages users download, made by `cpack` from the install tree (cmake/Install.cmake)
# into <build>/packages:
#   Windows  nurva-<version>-win64.zip            the DLL, both import libraries, the .def,
#                                                 the header, nurva.exe, README
#   Linux    nurva_<version>_<arch>.deb           installs under /usr
#            nurva-<version>-Linux-<arch>.tar.gz  the same tree, to unpack anywhere
set(CPACK_PACKAGE_NAME nurva)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "NURVA_DLL developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Host library for NURVA USB device programmers")
set(CPACK_PACKAGE_DESCRIPTION
    "The NURVA_DLL host library (C header and shared library), the nurva command-line host and the nurva-sim virtual programmer.")
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_GENERATOR "")

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME nurva-${PROJECT_VERSION}-win64)
else()
  set(CPACK_GENERATOR DEB TGZ)
  set(CPACK_PACKAGE_FILE_NAME nurva-${PROJECT_VERSION}-Linux-${CMAKE_SYSTEM_PROCESSOR})
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "NURVA_DLL developers <nurva-dll@localhost>")
  set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
  # Dependencies from the binaries' own needs (libc, libstdc++); the package's own
  # library satisfies nurva's, and its shlibs file and ldconfig trigger come with it.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/lib)
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
endif()

include(CPack)
