# Checks the run path of every ELF file below the folders in DIRS: each entry
# must be an absolute folder or start with $ORIGIN. An empty entry (a ':' at
# either end or two in a row) or a relative one makes the dynamic loader look
# in the current folder, or below it, for every library. Run with
# -DDIRS=<folders separated by ';'> -DREADELF=<readelf>; also included by
# tests/install_test.cmake for the installed tree.
cmake_minimum_required(VERSION 3.25)

function(korva_check_run_paths dirs)
  set(failures "")
  set(checked 0)
  foreach(dir ${dirs})
    file(GLOB_RECURSE files LIST_DIRECTORIES false "${dir}/*")
    foreach(file ${files})
      if(file MATCHES "/CMakeFiles/|\\.(o|a|cpp|h|txt|cmake|json|csv|xml)$"
         OR IS_SYMLINK "${file}")
        continue()
      endif()
      file(READ "${file}" magic LIMIT 4 HEX)
      if(NOT magic STREQUAL "7f454c46")
        continue()
      endif()
      math(EXPR checked "${checked} + 1")
      execute_process(COMMAND ${READELF} -d "${file}"
        OUTPUT_VARIABLE dynamic RESULT_VARIABLE status)
      if(NOT status EQUAL 0)
        string(APPEND failures "\n  ${file}: readelf failed")
        continue()
      endif()
      string(REGEX MATCHALL "Library r(un)?path: \\[[^]\n]*\\]" paths
        "${dynamic}")
      foreach(line ${paths})
        string(REGEX REPLACE "^[^[]*\\[(.*)\\]$" "\\1" path "${line}")
        # Entries split at ':' by hand: a CMake list would drop empty ones.
        string(REPLACE ":" ";:;" pieces "${path}")
        set(entry "")
        foreach(piece ${pieces} ":")
          if(NOT piece STREQUAL ":")
            set(entry "${piece}")
            continue()
          endif()
          if(NOT entry MATCHES "^(/|\\$ORIGIN|\\$\\{ORIGIN\\})")
            string(APPEND failures
              "\n  ${file}: run path [${path}] has the entry '${entry}'")
          endif()
          set(entry "")
        endforeach()
      endforeach()
    endforeach()
  endforeach()
  if(checked EQUAL 0)
    message(FATAL_ERROR "no ELF file below ${dirs}")
  endif()
  if(failures)
    message(FATAL_ERROR
      "run paths with an empty or relative entry:${failures}")
  endif()
  message(STATUS "${checked} ELF files, every run path absolute")
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  korva_check_run_paths("${DIRS}")
endif()
