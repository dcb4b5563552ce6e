# What `cmake --install` puts where, the CMake package (find_package(Cb)), the
# pkg-config file, and the Debian package CPack builds of the whole install.
include_guard(GLOBAL)
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(CB_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Cb)

install(TARGETS cb EXPORT CbTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# Everything under include/ is public; the library's own headers sit beside
# its sources and stay out.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/share/corix DESTINATION ${CMAKE_INSTALL_DATADIR})
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

install(EXPORT CbTargets NAMESPACE Cb:: DESTINATION ${CB_CMAKE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/CbConfig.cmake.in
  ${PROJECT_BINARY_DIR}/CbConfig.cmake INSTALL_DESTINATION ${CB_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/CbConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/CbConfig.cmake ${PROJECT_BINARY_DIR}/CbConfigVersion.cmake
  DESTINATION ${CB_CMAKE_DIR})

# cb.pc names its folders relative to itself, so it stays right under any
# --prefix given at install time and after the tree is moved.
file(RELATIVE_PATH CB_PC_PREFIX_FROM_PCDIR ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" CB_PC_PREFIX_FROM_PCDIR "${CB_PC_PREFIX_FROM_PCDIR}")
set(CB_PC_OPENMP_FLAGS "${OpenMP_CXX_FLAGS}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/cb.pc.in ${PROJECT_BINARY_DIR}/cb.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/cb.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# One Debian package holding the whole install: `cpack -G DEB` in the build
# folder. Its Depends come from dpkg-shlibdeps (needs dpkg-dev and file).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "ztp2txscene maintainers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "ZTP particle cache to txscene converter, and the libcb simulation data library")
set(CPACK_PACKAGE_DESCRIPTION
  "ztp2txscene converts a ZTP particle-simulation cache into a txscene scene file holding a
GeomParticleSystem plugin. The package also holds the sample cache generator ztp-sample,
the simulation data library libcb with its headers, CMake package (find_package(Cb)) and
pkg-config file (cb), and the example installation in share/corix.")
set(CB_PACKAGE_MAINTAINER "ztp2txscene maintainers <maintainers@users.noreply.c-seed-f5b1b927.example>"
  CACHE STRING "Maintainer field of the Debian package")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CB_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# libcb.so.1 is in the package itself: its shlibs entry lets dpkg-shlibdeps
# resolve the programs against it, and installs run ldconfig.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
include(CPack)
