#ifndef KORVA_DATA_READER_LIBRARY_H_
#define KORVA_DATA_READER_LIBRARY_H_

#include <string>

namespace Korva::Data {

// Opens the reader library `fileName` ("libkorva_mat.so"), which korva loads
// only for the files that need it: beside the program (the build tree), in
// the installed library folder relative to the program's, then by its bare
// name through the system's search (the run path of the library or program
// holding this code, the library path). Never from a relative folder: the
// search names absolute paths only. nullptr when none opens, with the
// loader's first complaint in `reason`.
void* OpenReaderLibrary(const std::string& fileName, std::string& reason);

}  // namespace Korva::Data

#endif  // KORVA_DATA_READER_LIBRARY_H_
