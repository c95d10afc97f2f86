# Checks that each part uses only the parts it may (see docs/architecture.md),
# both in what it includes and in what its CMake targets link:
# - every `#include "folder/..."` in a part's sources must name a part on its
#   list; the public headers `korva/hostkit...` are the host kit's, the other
#   `korva/...` headers the host's;
# - every library a part's target links must be one of our libraries of a
#   part on its list, or an external library; an external library that is
#   the job of some parts (Qt: the dialog) only those parts may link.
# Test programs (sources *_test.cpp, targets *_tests) may use everything.
# Run with -DSOURCE_DIR=<checkout>, and -DLINKS=<the table of targets and
# their libraries that tests/CMakeLists.txt writes> for the links.
cmake_minimum_required(VERSION 3.25)
set(allowed_platform platform)
set(allowed_host     host)
set(allowed_hostkit  host hostkit platform)
set(allowed_weighted host weighted platform)
set(allowed_stepwise host stepwise weighted plugin platform)
set(allowed_persist  host persist plugin)
set(allowed_ui       host ui plugin)
set(allowed_plugin   host plugin weighted)
set(allowed_data     data platform)
set(allowed_recording recording data platform)
set(allowed_epoching epoching recording data platform)
set(allowed_report   report)
set(allowed_sources  sources epoching recording data hostkit)
set(allowed_cli      host hostkit data recording epoching sources report cli)
set(allowed_python   host hostkit data recording epoching sources python)
set(allowed_examples host hostkit)
# Beyond what it includes, the plugin part links the subsystems it assembles
# the module from.
set(assembled_plugin stepwise persist ui)

# External libraries that belong to some parts' job. Qt: the configuration
# dialog, and `korva edit`, which creates the application object the dialog
# needs (a module never creates its host's). The MATLAB reader's libraries:
# data, whose reader library only a run that reads a MATLAB file loads.
# pybind11: the Python package.
set(external_rules qt matlab pybind11)
set(qt_pattern "^Qt6::")
set(qt_parts ui cli)
set(matlab_pattern "^PkgConfig::(MATIO|HDF5|ZLIB)$")
set(matlab_parts data)
set(pybind11_pattern "^pybind11::")
set(pybind11_parts python)

set(parts platform host hostkit weighted stepwise persist ui plugin data
          recording epoching report sources cli python examples)
set(failures "")

# The part a header named in an #include belongs to.
function(included_part line out)
  string(REGEX REPLACE "^#include \"([^\"]+)\".*" "\\1" path "${line}")
  if(path MATCHES "^korva/hostkit[./]")
    set(${out} hostkit PARENT_SCOPE)
  elseif(path MATCHES "^korva/")
    set(${out} host PARENT_SCOPE)
  else()
    string(REGEX REPLACE "/.*" "" first "${path}")
    set(${out} "${first}" PARENT_SCOPE)
  endif()
endfunction()

foreach(part ${parts})
  file(GLOB_RECURSE sources
    "${SOURCE_DIR}/${part}/*.h" "${SOURCE_DIR}/${part}/*.cpp")
  file(GLOB_RECURSE public "${SOURCE_DIR}/include/korva/*.h")
  foreach(header ${public})
    file(RELATIVE_PATH name "${SOURCE_DIR}/include" "${header}")
    included_part("#include \"${name}\"" owner)
    if(owner STREQUAL part)
      list(APPEND sources "${header}")
    endif()
  endforeach()
  foreach(source ${sources})
    if(source MATCHES "_test\\.cpp$")
      continue()
    endif()
    file(STRINGS "${source}" lines REGEX "^#include \"[^/\"]+/")
    foreach(line ${lines})
      included_part("${line}" used)
      if(NOT used IN_LIST allowed_${part})
        string(APPEND failures "\n  ${source}: ${line}")
      endif()
    endforeach()
  endforeach()
endforeach()

if(LINKS)
  include("${LINKS}")
  foreach(target ${targets})
    set(part "${part_of_${target}}")
    if(NOT part IN_LIST parts OR target MATCHES "_tests$")
      continue()
    endif()
    foreach(library ${links_${target}})
      set(owner "${part_of_${library}}")
      if(owner)
        if(NOT owner IN_LIST allowed_${part} AND
           NOT owner IN_LIST assembled_${part})
          string(APPEND failures
            "\n  ${part}/CMakeLists.txt: ${target} links ${library} (${owner})")
        endif()
        continue()
      endif()
      foreach(rule ${external_rules})
        if(library MATCHES "${${rule}_pattern}" AND
           NOT part IN_LIST ${rule}_parts)
          string(REPLACE ";" ", " owners "${${rule}_parts}")
          string(APPEND failures "\n  ${part}/CMakeLists.txt: ${target} "
            "links ${library}, which only ${owners} may link")
        endif()
      endforeach()
    endforeach()
  endforeach()
endif()

if(failures)
  message(FATAL_ERROR "uses across the layering:${failures}")
endif()
