# Finds the NEWMAT matrix library and defines the imported target
# newmat::newmat (headers as <newmat/newmat.h>).
find_library(NEWMAT_LIBRARY NAMES newmat)
find_path(NEWMAT_INCLUDE_DIR newmat/newmat.h)
include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(newmat
  REQUIRED_VARS NEWMAT_LIBRARY NEWMAT_INCLUDE_DIR)
if(newmat_FOUND AND NOT TARGET newmat::newmat)
  add_library(newmat::newmat UNKNOWN IMPORTED)
  set_target_properties(newmat::newmat PROPERTIES
    IMPORTED_LOCATION "${NEWMAT_LIBRARY}"
    INTERFACE_INCLUDE_DIRECTORIES "${NEWMAT_INCLUDE_DIR}")
endif()
