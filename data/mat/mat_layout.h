#ifndef KORVA_DATA_MAT_MAT_LAYOUT_H_
#define KORVA_DATA_MAT_MAT_LAYOUT_H_

#include <cstdint>
#include <string>
#include <vector>

namespace Korva::Data {

// What a MATLAB file's own structure says, read before libmatio sees the
// file. libmatio allocates what a variable declares before it checks that the
// file holds it, and reads truncated or corrupt data without saying so, so
// the sizes are checked here first.
struct MatLayout {
  enum class Format { kNotMat, kV4, kV5, kV73 };
  Format format = Format::kNotMat;
  std::uint64_t fileBytes = 0;
  std::vector<std::string> variables;  // v4 and v5: the names, in file order
  std::string problem;                 // "" when the structure is sound
  std::string variable;  // the variable the problem is in, "" if not known
};

// Checks the file at `path`. Version 5: the 128-byte header, then every
// top-level element (8-byte tag of type and size) must end inside the file;
// every part of a variable (array flags, dimensions, name, data, the
// elements of cells and structures) must lie inside the part that holds it;
// a numeric or text part must hold at least the values its dimensions
// declare; a compressed element must be one complete zlib stream, checksum
// included. Version 4: every variable's header, name and data must lie inside
// the file. Version 7.3 (HDF5) is left to HDF5, which checks it. Any
// variable whose declared size breaks MatSizeProblem is refused before any of
// its data is read.
MatLayout CheckMatLayout(const std::string& path);

// Values a variable may hold: the matrix library indexes with int.
constexpr std::uint64_t kMaxMatValues = 2147483647;
// zlib expands data at most about 1032-fold.
constexpr std::uint64_t kZlibMaxRatio = 1032;

// "" when a variable of `dims` whose values take `valueBytes` bytes each in
// the file can be held by a file of `fileBytes` bytes (times kZlibMaxRatio
// when `compressed`) and has at most kMaxMatValues values; else the rule it
// breaks, for a message.
std::string MatSizeProblem(const std::vector<std::uint64_t>& dims,
                           std::uint64_t valueBytes,
                           std::uint64_t fileBytes,
                           bool compressed);

}  // namespace Korva::Data

#endif  // KORVA_DATA_MAT_MAT_LAYOUT_H_
