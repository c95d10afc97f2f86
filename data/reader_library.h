#ifndef KORVA_DATA_READER_LIBRARY_H_
#define KORVA_DATA_READER_LIBRARY_H_

#include <exception>
#include <string>

#include "data/dataset.h"

namespace Korva::Data {

// Opens the reader library `fileName` ("libkorva_mat.so"), which korva loads
// only for the files that need it: beside the program (the build tree), in
// the installed library folder relative to the program's, then by its bare
// name through the system's search (the run path of the library or program
// holding this code, the library path). Never from a relative folder: the
// search names absolute paths only. nullptr when none opens, with the
// loader's first complaint in `reason`.
void* OpenReaderLibrary(const std::string& fileName, std::string& reason);

// A reader library's entry points return a status instead of throwing across
// the library boundary: 0 done, 1 the data is wrong (DataError), 2 anything
// else, with the message in `error`. Runs `work` and returns its status.
template <typename Work>
int StatusOf(std::string* error, Work work) {
  try {
    work();
    return 0;
  } catch (const DataError& e) {
    *error = e.what();
    return 1;
  } catch (const std::exception& e) {
    *error = e.what();
    return 2;
  }
}

// The exception a non-zero status of StatusOf stands for, thrown again on
// the caller's side.
[[noreturn]] void ThrowStatus(int status, const std::string& error);

}  // namespace Korva::Data

#endif  // KORVA_DATA_READER_LIBRARY_H_
