# Checks that each part uses only the parts it may (see docs/architecture.md),
# both in what it includes and in what its CMake targets link:
# - every `#include "folder/..."` in a part's sources must name a part on its
#   list; the public headers `korva/hostkit...` are the host kit's, the other
#   `korva/...` headers the host's; where a part may use only some headers
#   of another (only_<part>_<other>), the header must be one of them;
# - every library a part's target links must be one of our libraries of a
#   part on its list, or an external library; an external library that is
#   the job of some parts (Qt: the dialog) only those parts may link.
# Test programs (sources *_test.cpp, targets *_tests) may use everything.
# Run with -DSOURCE_DIR=<checkout>, and -DLINKS=<the table of targets and
# their libraries that tests/CMakeLists.txt writes> for the links.
cmake_minimum_required(VERSION 3.25)
set(allowed_platform platform)
set(allowed_text     text)
set(allowed_host     host text)
set(allowed_hostkit  host hostkit platform text)
set(allowed_weighted host weighted platform)
set(allowed_stepwise host stepwise weighted plugin platform)
set(allowed_persist  host persist plugin)
set(allowed_ui       host ui plugin)
set(allowed_plugin   host plugin weighted)
set(allowed_data     data platform text)
set(allowed_recording recording data platform text)
set(allowed_epoching epoching recording data platform text)
set(allowed_online   online epoching recording data platform text)
set(allowed_fieldtrip fieldtrip text)
set(allowed_report   report text)
set(allowed_speller  host hostkit speller text)
set(allowed_validation host hostkit data report speller validation)
set(allowed_sources  sources epoching recording data hostkit speller text)
set(allowed_cli      host hostkit data recording epoching online fieldtrip sources
                     report speller validation cli text)
set(allowed_python   host hostkit data recording epoching sources speller
                     validation python text)
set(allowed_examples host hostkit)
# Beyond what it includes, the plugin part links the subsystems it assembles
# the module from.
set(assembled_plugin stepwise persist ui)
# The cross-validation engine scores folds with the report's metrics, and
# has nothing to do with the report itself.
set(only_validation_report report/metrics.h)

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

set(parts platform text host hostkit weighted stepwise persist ui plugin data
          recording epoching online fieldtrip report speller validation sources cli
          python
          examples)
set(failures "")

# The header named in an #include.
function(included_path line out)
  string(REGEX REPLACE "^#include \"([^\"]+)\".*" "\\1" path "${line}")
  set(${out} "${path}" PARENT_SCOPE)
endfunction()

# The part a header named in an #include belongs to.
function(included_part line out)
  included_path("${line}" path)
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
      included_path("${line}" path)
      if(NOT used IN_LIST allowed_${part} OR
         (DEFINED only_${part}_${used} AND
          NOT path IN_LIST only_${part}_${used}))
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
