# Run paths of the binaries that are installed. CMake's own way (link with
# the build tree's run path, edit it in place at install) pads that run path
# with ':' to leave room for the installed one, and the dynamic loader reads
# an empty entry as the current folder: a library planted in whatever folder
# korva or Python was started from would load. So such a target is linked
# with its build-tree run path as its install run path (absolute folders of
# the build tree, no empty entry, nothing for CMake to edit), and the install
# sets the installed run path with file(RPATH_SET), which can only shrink the
# entry: the build-tree run path is lengthened, where it is shorter, by
# repeating its first folder.
#
# korva_run_path(TARGET
#                BUILD folder...       absolute folders in the build tree
#                INSTALL entry...      the installed run path ($ORIGIN/...)
#                INSTALLED_FILE file)  the installed file, below the prefix
function(korva_run_path target)
  cmake_parse_arguments(ARG "" "INSTALLED_FILE" "BUILD;INSTALL" ${ARGN})
  list(JOIN ARG_BUILD ":" build)
  list(JOIN ARG_INSTALL ":" installed)
  list(GET ARG_BUILD 0 first)
  set(entries ${ARG_BUILD})
  string(LENGTH "${installed}" wanted)
  string(LENGTH "${build}" length)
  while(length LESS wanted)
    list(APPEND entries "${first}")
    string(APPEND build ":${first}")
    string(LENGTH "${build}" length)
  endwhile()
  set_target_properties(${target} PROPERTIES
    BUILD_WITH_INSTALL_RPATH ON
    INSTALL_RPATH "${entries}")
  install(CODE "file(RPATH_SET
    FILE \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${ARG_INSTALLED_FILE}\"
    NEW_RPATH \"${installed}\")")
endfunction()
