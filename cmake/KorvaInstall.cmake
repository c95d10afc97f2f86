# Install rules, the CMake package (find_package(Korva) gives Korva::host and
# Korva::hostkit), the pkg-config file and the Debian package.
include(CMakePackageConfigHelpers)

set(KORVA_MODULE_DIR ${CMAKE_INSTALL_LIBDIR}/korva)
set(KORVA_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Korva)

install(TARGETS korva RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# Written at build time by korva itself (cli/CMakeLists.txt).
list(GET KORVA_GENERATED_DOCS 0 korva_man_page)
list(GET KORVA_GENERATED_DOCS 1 korva_bash_completion)
list(GET KORVA_GENERATED_DOCS 2 korva_zsh_completion)
install(FILES ${korva_man_page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${korva_bash_completion}
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
  RENAME korva)
install(FILES ${korva_zsh_completion}
  DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions)
# Where the host kit looks for it: korva/ beside the installed kit library.
install(TARGETS ZEZODOvo64 LIBRARY DESTINATION ${KORVA_MODULE_DIR})
install(TARGETS korva_host korva_hostkit EXPORT KorvaTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(DIRECTORY include/korva DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

install(EXPORT KorvaTargets NAMESPACE Korva:: DESTINATION ${KORVA_CMAKE_DIR})
configure_package_config_file(cmake/KorvaConfig.cmake.in
  ${PROJECT_BINARY_DIR}/KorvaConfig.cmake
  INSTALL_DESTINATION ${KORVA_CMAKE_DIR}
  PATH_VARS KORVA_MODULE_DIR)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/KorvaConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES
  ${PROJECT_BINARY_DIR}/KorvaConfig.cmake
  ${PROJECT_BINARY_DIR}/KorvaConfigVersion.cmake
  cmake/Findnewmat.cmake
  DESTINATION ${KORVA_CMAKE_DIR})

configure_file(cmake/korva.pc.in ${PROJECT_BINARY_DIR}/korva.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/korva.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# Executables and the kit find the libraries beside them once installed.
set_target_properties(korva_hostkit PROPERTIES INSTALL_RPATH "$ORIGIN")

set(CPACK_PACKAGE_NAME korva)
set(CPACK_PACKAGE_VENDOR "the Korva team")
set(CPACK_PACKAGE_CONTACT "Korva team <korva@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "stepwise linear discriminant classifier module and its command-line host")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# libopenblas0 alone may bring the threaded build; the module must load the
# serial one (its run path names that build's folder).
# libssl3 holds libcrypto, which korva opens (not links) to hash its inputs.
# The module's link to libopenblas.so.0 adds libopenblas0, which setup.sh
# does not install: the package is installed with apt, which brings it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libopenblas0-serial, libssl3")
# The Python package (lib/python3/dist-packages/korva, when built) imports
# numpy and scikit-learn; MNE and pandas are optional.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "python3, python3-numpy, python3-sklearn")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "python3-mne, python3-pandas")
set(CPACK_STRIP_FILES ON)
# The libraries' own folder, so that dpkg-shlibdeps resolves them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
  ${PROJECT_BINARY_DIR}/host ${PROJECT_BINARY_DIR}/hostkit)
include(CPack)
