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

# Run paths, without an empty entry in the build tree or the install
# (cmake/KorvaRunPath.cmake): korva and the kit find the libraries beside
# them, the module the libraries' folder above its own and OpenBLAS from its
# serial build only, the Python extension the libraries' folder. The MATLAB
# and EDF readers need no run path: libmatio, HDF5 and EDFlib are on the
# system's.
include(KorvaRunPath)
korva_run_path(korva
  BUILD ${PROJECT_BINARY_DIR}/hostkit ${PROJECT_BINARY_DIR}/host
  INSTALL "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}"
  INSTALLED_FILE ${CMAKE_INSTALL_BINDIR}/$<TARGET_FILE_NAME:korva>)
korva_run_path(korva_hostkit
  BUILD ${PROJECT_BINARY_DIR}/host
  INSTALL "$ORIGIN"
  INSTALLED_FILE ${CMAKE_INSTALL_LIBDIR}/$<TARGET_FILE_NAME:korva_hostkit>)
korva_run_path(ZEZODOvo64
  BUILD ${KORVA_OPENBLAS_DIR} ${PROJECT_BINARY_DIR}/host
  INSTALL "$ORIGIN/.." ${KORVA_OPENBLAS_DIR}
  INSTALLED_FILE ${KORVA_MODULE_DIR}/$<TARGET_FILE_NAME:ZEZODOvo64>)
set_target_properties(korva_mat korva_edf PROPERTIES BUILD_WITH_INSTALL_RPATH ON)
if(TARGET korva_python)
  file(RELATIVE_PATH libdir_from_package
    /${KORVA_PYTHON_INSTALL_DIR}/korva /${CMAKE_INSTALL_LIBDIR})
  # The build folder too: the extension opens the reader libraries
  # (libkorva_edf.so) by name, from there before installation and from the
  # libraries' folder after.
  korva_run_path(korva_python
    BUILD ${PROJECT_BINARY_DIR}/hostkit ${PROJECT_BINARY_DIR}/host
          ${PROJECT_BINARY_DIR}
    INSTALL "$ORIGIN/${libdir_from_package}"
    INSTALLED_FILE
      ${KORVA_PYTHON_INSTALL_DIR}/korva/$<TARGET_FILE_NAME:korva_python>)
endif()

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
