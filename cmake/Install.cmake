# What `cmake --install` lays out:
#
#   include/NURVA_DLL.h                      the public header
#   lib/libnurva.so.1.x.y, .so.1, .so        Linux: the library, its soname link, the link for building
#   bin/NURVA_DLL.dll                        Windows: the library
#   lib/libNURVA_DLL.dll.a, lib/NURVA_DLL.lib  import libraries for MinGW and for MSVC
#   lib/NURVA_DLL.def                        the module-definition file (for other linkers)
#   bin/nurva, bin/nurva-sim                 the command-line host and (Linux) the simulator
#   lib/cmake/nurva/                         find_package(nurva): the imported target nurva::nurva
#   lib/pkgconfig/nurva.pc                   pkg-config --cflags --libs nurva
#   share/doc/nurva/                         README and the example hosts (README at the top on Windows)
#
# Every path the package files hold is relative to where they are installed, so the tree
# can be moved (a ZIP unpacked anywhere, the .tar.gz, --prefix at install time).
include(CMakePackageConfigHelpers)

set(NURVA_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/nurva)

install(FILES ${PROJECT_SOURCE_DIR}/api/NURVA_DLL.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

install(TARGETS nurva EXPORT nurvaTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} NAMELINK_SKIP
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
if(NOT WIN32)
  install(TARGETS nurva LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} NAMELINK_ONLY)
endif()

if(WIN32)
  install(FILES ${CMAKE_BINARY_DIR}/lib/NURVA_DLL.lib ${CMAKE_BINARY_DIR}/api/NURVA_DLL.def
    DESTINATION ${CMAKE_INSTALL_LIBDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION .)
else()
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples USE_SOURCE_PERMISSIONS)

# The tools find the library beside them (Windows) or in ../lib (Linux).
foreach(tool nurva_cli nurva-sim)
  if(TARGET ${tool})
    if(NOT WIN32)
      set_target_properties(${tool} PROPERTIES INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
    endif()
    install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

# CMake package.
install(EXPORT nurvaTargets NAMESPACE nurva:: DESTINATION ${NURVA_CMAKE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/nurvaConfig.cmake.in
  ${CMAKE_BINARY_DIR}/nurvaConfig.cmake INSTALL_DESTINATION ${NURVA_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/nurvaConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/nurvaConfig.cmake ${CMAKE_BINARY_DIR}/nurvaConfigVersion.cmake
  DESTINATION ${NURVA_CMAKE_DIR})

# pkg-config file.
if(WIN32)
  set(NURVA_PC_LIB NURVA_DLL)
else()
  set(NURVA_PC_LIB nurva)
endif()
file(RELATIVE_PATH NURVA_PC_TO_PREFIX /root/${CMAKE_INSTALL_LIBDIR}/pkgconfig /root)
configure_file(${CMAKE_CURRENT_LIST_DIR}/nurva.pc.in ${CMAKE_BINARY_DIR}/nurva.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/nurva.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
