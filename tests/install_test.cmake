# Installs the build into a temporary prefix, builds examples/ against the
# installed package with find_package(Korva), and runs the example and the
# installed korva, each finding the installed module on its own.
# -DBUILD_DIR, -DSOURCE_DIR, -DWORK_DIR, -DGENERATOR.
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status
    OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "failed (${status}): ${ARGN}\n${out}\n${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/examples -B ${WORK_DIR}/example
    -G ${GENERATOR} -DCMAKE_PREFIX_PATH=${prefix})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/example)

# The module file must come from the prefix, not from the build tree.
set(ENV{KORVA_MODULE} "")
run(${prefix}/bin/korva generate --epochs 120 --channels 2 --samples 5
    --output ${WORK_DIR}/data.csv)
run(${WORK_DIR}/example/minimal_host ${WORK_DIR}/data.csv)
if(NOT out MATCHES "^selected [0-9]+ of 10 features:")
  message(FATAL_ERROR "unexpected output of minimal_host: ${out}")
endif()
run(${prefix}/bin/korva train ${WORK_DIR}/data.csv --quiet
    --model ${WORK_DIR}/model.xml)

# The installed Python package (when built) trains with the installed module,
# not the build tree's. -DPYTHON, -DPYTHON_DIR and -DLIB_DIR (relative to the
# prefix).
if(PYTHON)
  set(ENV{PYTHONPATH} ${prefix}/${PYTHON_DIR})
  run(${PYTHON} -c "import os, korva
X, y = korva.simulate_p300(120, 2, 5, return_X_y=True)
print(os.path.realpath(korva.StepwiseLDA().fit(X, y).module_path_))")
  string(STRIP "${out}" loaded)
  file(REAL_PATH ${prefix}/${LIB_DIR}/korva/ZEZODOvo64.kvc installed)
  if(NOT loaded STREQUAL installed)
    message(FATAL_ERROR "the installed Python package loaded ${loaded}, "
      "not the installed module ${installed}")
  endif()
  # ... and reads EDF files with the installed EDF reader library.
  run(${PYTHON} -c "import korva, pathlib
p = pathlib.Path('${WORK_DIR}/a.edf')
h = '0'.ljust(168) + '01.01.2400.00.00512     ' + ' ' * 44 + '1       1       1   '
for text, size in (('Fz', 16), ('', 80), ('uV', 8), ('-100', 8), ('100', 8),
                   ('-32768', 8), ('32767', 8), ('', 80), ('4', 8), ('', 32)):
    h += text.ljust(size)
p.write_bytes(h.encode() + bytes(8))
assert korva.read_recording(p).data.shape == (1, 4)
print(next(l.split()[-1] for l in open('/proc/self/maps') if 'libkorva_edf' in l))")
  string(STRIP "${out}" loaded)
  file(REAL_PATH ${prefix}/${LIB_DIR}/libkorva_edf.so installed)
  if(NOT loaded STREQUAL installed)
    message(FATAL_ERROR "the installed Python package read EDF with "
      "${loaded}, not the installed ${installed}")
  endif()
endif()
