#include "data/mat/mat_io.h"

#include <hdf5.h>
#include <matio.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "data/mat/mat_layout.h"

namespace Korva::Data {
namespace {

struct MatCloser {
  void operator()(mat_t* mat) const { Mat_Close(mat); }
};
struct VarFreer {
  void operator()(matvar_t* var) const { Mat_VarFree(var); }
};
using MatFile = std::unique_ptr<mat_t, MatCloser>;
using MatVar = std::unique_ptr<matvar_t, VarFreer>;

// libmatio reports problems through its own log; this host reports them
// itself, with the file and variable named.
void SilentLog(int /*level*/, char* /*message*/) {}

// The variable's role in messages: "variable 'X' (features)".
std::string Where(const std::string& path,
                  const std::string& name,
                  const char* role) {
  return path + ": variable '" + name + "' (" + role + ")";
}

// The names of the file's variables.
std::vector<std::string> VariableNames(mat_t* mat, const MatLayout& layout) {
  std::vector<std::string> names;
  if (layout.format != MatLayout::Format::kV73) {
    for (const std::string& name : layout.variables)
      if (!name.empty()) names.push_back(name);
    return names;
  }
  size_t n = 0;
  char** dir = Mat_GetDir(mat, &n);
  for (size_t i = 0; dir != nullptr && i < n; ++i)
    if (dir[i] != nullptr && dir[i][0] != '\0') names.emplace_back(dir[i]);
  return names;
}

// The header of variable `name` (class, flags, dimensions), without its data.
// A variable the file holds but libmatio cannot read is not called missing.
MatVar ReadInfo(mat_t* mat,
                const MatLayout& layout,
                const std::string& path,
                const std::string& name,
                const char* role) {
  MatVar var(Mat_VarReadInfo(mat, name.c_str()));
  if (var) return var;
  const std::vector<std::string> names = VariableNames(mat, layout);
  if (std::find(names.begin(), names.end(), name) != names.end())
    throw DataError(Where(path, name, role) +
                    " cannot be read: it is damaged (a truncated file?) or of "
                    "a kind this reader does not know");
  std::string list;
  for (const std::string& held : names)
    list += (list.empty() ? "" : ", ") + held;
  throw DataError(path + ": no variable '" + name + "' for the " + role +
                  " (the file holds: " + (list.empty() ? "none" : list) + ")");
}

bool IsNumericClass(matio_classes c) {
  return c == MAT_C_DOUBLE || c == MAT_C_SINGLE ||
         (c >= MAT_C_INT8 && c <= MAT_C_UINT64);
}

// Refuses a variable that is not a real numeric matrix, or whose declared
// size the file cannot hold (version 5 files had that checked with the type
// their values are stored in).
void CheckNumeric(const matvar_t* var,
                  const MatLayout& layout,
                  const std::string& where,
                  const std::string& name) {
  if (var->class_type == MAT_C_SPARSE)
    throw DataError(where + " is a sparse matrix; store it as a full matrix: " +
                    name + " = full(" + name + ")");
  if (!IsNumericClass(var->class_type))
    throw DataError(where + " is not a numeric array");
  if (var->isComplex) throw DataError(where + " is complex");
  if (var->rank != 2)
    throw DataError(where + " has " + std::to_string(var->rank) +
                    " dimensions; it must be a matrix");
  if (var->dims[0] == 0 || var->dims[1] == 0)
    throw DataError(where + " is empty");
  const std::vector<std::uint64_t> dims = {var->dims[0], var->dims[1]};
  std::string problem;
  if (layout.format == MatLayout::Format::kV4)
    problem = MatSizeProblem(dims,
                             std::max<size_t>(Mat_SizeOf(var->data_type), 1),
                             layout.fileBytes,
                             false);
  else
    problem = MatSizeProblem(dims, 1, layout.fileBytes, true);
  if (!problem.empty()) throw DataError(where + ": " + problem);
}

// True when HDF5 has stored every value of the dataset: it reads a value it
// never stored (a chunk or a contiguous block not written) as the fill value.
bool Hdf5Stored(hid_t set) {
  const hid_t plist = H5Dget_create_plist(set);
  const hid_t space = H5Dget_space(set);
  bool stored = false;
  if (H5Sget_simple_extent_npoints(space) == 0) {
    stored = true;  // nothing to store; an empty variable is refused later
  } else if (H5Pget_layout(plist) == H5D_CHUNKED) {
    hsize_t dims[H5S_MAX_RANK], chunk[H5S_MAX_RANK];
    const int rank = H5Sget_simple_extent_dims(space, dims, nullptr);
    hsize_t need = 1, have = 0;
    if (rank >= 0 && H5Pget_chunk(plist, rank, chunk) == rank) {
      for (int i = 0; i < rank; ++i)
        need *= chunk[i] ? (dims[i] + chunk[i] - 1) / chunk[i] : 0;
      stored = H5Dget_num_chunks(set, space, &have) >= 0 && have >= need;
    }
  } else {
    H5D_space_status_t status = H5D_SPACE_STATUS_ERROR;
    stored = H5Dget_space_status(set, &status) >= 0 &&
             status == H5D_SPACE_STATUS_ALLOCATED;
  }
  H5Sclose(space);
  H5Pclose(plist);
  return stored;
}

// HDF5 refuses a version 7.3 file that is truncated or damaged; a variable
// some of whose values were never stored is refused here. `name` is the
// variable's dataset, if the file holds it.
void CheckHdf5(const std::string& path,
               const std::string& where,
               const std::string& name) {
  const hid_t file = H5Fopen(path.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT);
  if (file < 0)
    throw DataError(where +
                    " cannot be read: the file is truncated or damaged (HDF5 "
                    "cannot open it)");
  bool stored = true;
  if (!name.empty() && name.find('/') == std::string::npos &&
      H5Lexists(file, name.c_str(), H5P_DEFAULT) > 0) {
    // A group (a structure, a sparse matrix) is refused by its class later.
    const hid_t set = H5Dopen2(file, name.c_str(), H5P_DEFAULT);
    if (set >= 0) {
      stored = Hdf5Stored(set);
      H5Dclose(set);
    }
  }
  H5Fclose(file);
  if (!stored)
    throw DataError(where +
                    ": the file holds no data for some of its values "
                    "(damaged)");
}

template <typename T>
void Convert(const unsigned char* bytes, std::vector<double>& values) {
  for (size_t i = 0; i < values.size(); ++i) {
    T value;
    std::memcpy(&value, bytes + i * sizeof(T), sizeof(T));
    values[i] = static_cast<double>(value);
  }
}

using Converter = void (*)(const unsigned char*, std::vector<double>&);

// How the values of each numeric class become doubles.
constexpr struct {
  matio_classes type;
  Converter convert;
} kConverters[] = {{MAT_C_DOUBLE, Convert<double>},
                   {MAT_C_SINGLE, Convert<float>},
                   {MAT_C_INT8, Convert<std::int8_t>},
                   {MAT_C_UINT8, Convert<std::uint8_t>},
                   {MAT_C_INT16, Convert<std::int16_t>},
                   {MAT_C_UINT16, Convert<std::uint16_t>},
                   {MAT_C_INT32, Convert<std::int32_t>},
                   {MAT_C_UINT32, Convert<std::uint32_t>},
                   {MAT_C_INT64, Convert<std::int64_t>},
                   {MAT_C_UINT64, Convert<std::uint64_t>}};

// The bytes of a real numeric matrix's values, `size` bytes each, as
// libmatio reads them. libmatio leaves values it could not read (a file cut
// short) as they were, so the buffer is filled with a sentinel byte first; a
// value still equal to it is read again over another sentinel, and one equal
// to both was never written. Throws for those and for a failed read.
std::vector<unsigned char> ReadBytes(mat_t* mat,
                                     matvar_t* var,
                                     size_t size,
                                     const std::string& where) {
  const size_t n = var->dims[0] * var->dims[1];
  int start[2] = {0, 0};
  int stride[2] = {1, 1};
  int edge[2] = {static_cast<int>(var->dims[0]),
                 static_cast<int>(var->dims[1])};
  auto read = [&](std::vector<unsigned char>& buffer, unsigned char fill) {
    buffer.assign(n * size, fill);
    if (Mat_VarReadData(mat, var, buffer.data(), start, stride, edge) != 0)
      throw DataError(where +
                      ": its data cannot be read (truncated or damaged)");
  };
  auto filled = [size](const std::vector<unsigned char>& buffer,
                       size_t i,
                       unsigned char fill) {
    for (size_t k = 0; k < size; ++k)
      if (buffer[i * size + k] != fill) return false;
    return true;
  };
  constexpr unsigned char kFirst = 0xA5, kSecond = 0x5A;
  std::vector<unsigned char> bytes;
  std::vector<unsigned char> again;
  read(bytes, kFirst);
  for (size_t i = 0; i < n; ++i) {
    if (!filled(bytes, i, kFirst)) continue;
    if (again.empty()) read(again, kSecond);
    if (filled(again, i, kSecond))
      throw DataError(where +
                      ": the file ends before its data (truncated or damaged)");
  }
  return bytes;
}

// The values of a real numeric matrix as doubles, in MATLAB's column-major
// order. Throws when they cannot all be read or one is not finite.
std::vector<double> ReadValues(mat_t* mat,
                               matvar_t* var,
                               const std::string& where) {
  const std::string unknown =
      where + " has an element type this reader does not know";
  const size_t size = Mat_SizeOfClass(var->class_type);
  if (size == 0) throw DataError(unknown);
  const std::vector<unsigned char> bytes = ReadBytes(mat, var, size, where);
  const auto converter = std::find_if(
      std::begin(kConverters), std::end(kConverters), [var](const auto& c) {
        return c.type == var->class_type;
      });
  if (converter == std::end(kConverters)) throw DataError(unknown);
  std::vector<double> values(var->dims[0] * var->dims[1]);
  converter->convert(bytes.data(), values);
  const size_t rows = var->dims[0];
  for (size_t i = 0; i < values.size(); ++i) {
    if (!std::isfinite(values[i]))
      throw DataError(where + ": element (" + std::to_string(i % rows + 1) +
                      ", " + std::to_string(i / rows + 1) + ") is not finite");
  }
  return values;
}

void AppendUtf8(std::string& out, std::uint32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// Character `i` (column-major) of a char variable as UTF-8.
bool AppendChar(std::string& out, const matvar_t* var, size_t i) {
  switch (var->data_type) {
    case MAT_T_UINT8:
    case MAT_T_INT8:
    case MAT_T_UTF8:
      out += static_cast<const char*>(var->data)[i];
      return true;
    case MAT_T_UINT16:
    case MAT_T_INT16:
    case MAT_T_UTF16:
      AppendUtf8(out, static_cast<const std::uint16_t*>(var->data)[i]);
      return true;
    case MAT_T_UINT32:
    case MAT_T_INT32:
    case MAT_T_UTF32:
      AppendUtf8(out, static_cast<const std::uint32_t*>(var->data)[i]);
      return true;
    default:
      return false;
  }
}

std::string TrimRight(std::string s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
  return s;
}

size_t ElementCount(const matvar_t* var) {
  size_t n = 1;
  for (int d = 0; d < var->rank; ++d)
    n = var->dims[d] != 0 &&
                n > std::numeric_limits<size_t>::max() / var->dims[d]
            ? std::numeric_limits<size_t>::max()
            : n * var->dims[d];
  return n;
}

std::vector<std::uint64_t> Dims(const matvar_t* var) {
  return std::vector<std::uint64_t>(var->dims, var->dims + var->rank);
}

// The cells of a cell array, or nullptr when libmatio holds fewer than its
// dimensions say.
matvar_t* const* Cells(const matvar_t* var) {
  const size_t n = ElementCount(var);
  if (n > 0 && (var->data == nullptr || var->nbytes / sizeof(matvar_t*) < n))
    return nullptr;
  return static_cast<matvar_t* const*>(var->data);
}

// The feature names of a variable that passed CheckNameSizes. Only the text
// a variable holds is used (its byte count), never its dimensions alone.
std::vector<std::string> Names(const matvar_t* var, const std::string& where) {
  std::vector<std::string> names;
  auto charText = [&](const matvar_t* text, size_t row, size_t rows) {
    std::string name;
    const size_t n = ElementCount(text);
    const size_t size = Mat_SizeOf(text->data_type);
    if (n > 0 &&
        (text->data == nullptr || size == 0 || text->nbytes / size < n))
      throw DataError(where + " holds less text than its size says (damaged)");
    for (size_t c = 0; c < n / rows; ++c)
      if (!AppendChar(name, text, row + c * rows))
        throw DataError(where + " holds text of an unknown encoding");
    return TrimRight(name);
  };
  if (var->class_type == MAT_C_CELL) {
    matvar_t* const* cells = Cells(var);
    if (cells == nullptr)
      throw DataError(where +
                      " holds fewer cells than its size says (damaged)");
    for (size_t i = 0; i < ElementCount(var); ++i) {
      const matvar_t* cell = cells[i];
      if (cell == nullptr || ElementCount(cell) == 0) {
        names.emplace_back();
        continue;
      }
      if (cell->class_type != MAT_C_CHAR)
        throw DataError(where + ": cell " + std::to_string(i + 1) +
                        " is not text");
      names.push_back(charText(cell, 0, 1));
    }
  } else {
    for (size_t r = 0; r < var->dims[0]; ++r)
      names.push_back(charText(var, r, var->dims[0]));
  }
  return names;
}

// Refuses feature names whose count is wrong or whose declared size the file
// cannot hold, before libmatio reads (and allocates) their text.
void CheckNameSizes(const matvar_t* var,
                    const MatLayout& layout,
                    const std::string& where,
                    size_t expected) {
  const bool compressed = layout.format != MatLayout::Format::kV4;
  if (var->class_type == MAT_C_CELL) {
    const size_t n = ElementCount(var);
    if (n != expected)
      throw DataError(where + " holds " + std::to_string(n) + " names for " +
                      std::to_string(expected) + " features");
    matvar_t* const* cells = Cells(var);
    for (size_t i = 0; cells != nullptr && i < n; ++i) {
      if (cells[i] == nullptr) continue;
      // libmatio reads every cell in full: only text or nothing is let in.
      if (cells[i]->class_type != MAT_C_CHAR &&
          (!IsNumericClass(cells[i]->class_type) ||
           ElementCount(cells[i]) != 0) &&
          cells[i]->class_type != MAT_C_EMPTY)
        throw DataError(where + ": cell " + std::to_string(i + 1) +
                        " is not text");
      const std::string problem =
          MatSizeProblem(Dims(cells[i]), 1, layout.fileBytes, compressed);
      if (!problem.empty())
        throw DataError(where + ": cell " + std::to_string(i + 1) + ": " +
                        problem);
    }
  } else if (var->class_type == MAT_C_CHAR && var->rank == 2) {
    if (var->dims[0] != expected)
      throw DataError(where + " holds " + std::to_string(var->dims[0]) +
                      " rows of names for " + std::to_string(expected) +
                      " features");
    const std::string problem =
        MatSizeProblem(Dims(var), 1, layout.fileBytes, compressed);
    if (!problem.empty()) throw DataError(where + ": " + problem);
  } else {
    throw DataError(where +
                    " is neither a cell array of text nor a char matrix");
  }
}

// The file read (`file`, perhaps a copy) and the name messages give it.
struct Source {
  const std::string& file;
  const std::string& path;
};

// The layout of `file` once it is known to be a readable MATLAB file. Throws
// for a file that is not one, or whose layout check found a problem, naming
// the variable in its role where it is one of those asked for.
MatLayout CheckedLayout(const std::string& file,
                        const std::string& path,
                        const MatVariables& variables,
                        const std::string& cannotOpen) {
  const MatLayout layout = CheckMatLayout(file);
  if (layout.format == MatLayout::Format::kNotMat) throw DataError(cannotOpen);
  if (layout.problem.empty()) return layout;
  const std::string& name = layout.variable;
  std::string where = path;
  if (!name.empty() && name == variables.x)
    where = Where(path, name, "features");
  else if (!name.empty() && name == variables.y)
    where = Where(path, name, "labels");
  else if (!name.empty() && name == variables.names)
    where = Where(path, name, "feature names");
  else if (!name.empty())
    where = path + ": variable '" + name + "'";
  throw DataError(where + ": " + layout.problem);
}

// A real numeric matrix `name` in its `role`, checked and ready to read.
MatVar NumericVariable(mat_t* mat,
                       const MatLayout& layout,
                       const Source& source,
                       const std::string& name,
                       const char* role) {
  const std::string where = Where(source.path, name, role);
  if (layout.format == MatLayout::Format::kV73)
    CheckHdf5(source.file, where, name);
  MatVar var = ReadInfo(mat, layout, source.path, name, role);
  CheckNumeric(var.get(), layout, where, name);
  return var;
}

// The features, variable `name` (epochs x features), into `data` row by row.
void ReadFeatures(mat_t* mat,
                  const MatLayout& layout,
                  const Source& source,
                  const std::string& name,
                  Dataset& data) {
  MatVar x = NumericVariable(mat, layout, source, name, "features");
  const size_t rows = x->dims[0];
  const size_t cols = x->dims[1];
  const std::vector<double> columnMajor =
      ReadValues(mat, x.get(), Where(source.path, name, "features"));
  data.rows = static_cast<int>(rows);
  data.cols = static_cast<int>(cols);
  data.X = Values(data.rows, data.cols);
  for (size_t c = 0; c < cols; ++c)
    for (size_t r = 0; r < rows; ++r)
      data.X[r * cols + c] = columnMajor[c * rows + r];
}

// The labels, variable `variables.y`: a vector of one label per row of the
// features. Throws for any other shape, with a hint when the features seem
// transposed.
std::vector<double> ReadLabels(mat_t* mat,
                               const MatLayout& layout,
                               const Source& source,
                               const MatVariables& variables,
                               const Dataset& data) {
  const std::string where = Where(source.path, variables.y, "labels");
  MatVar y = NumericVariable(mat, layout, source, variables.y, "labels");
  const size_t rows = static_cast<size_t>(data.rows);
  const size_t cols = static_cast<size_t>(data.cols);
  const size_t count = y->dims[0] * y->dims[1];
  const bool isVector = y->dims[0] == 1 || y->dims[1] == 1;
  if (!isVector || count != rows) {
    std::string hint;
    if (count == cols && cols != rows)
      hint =
          "; the features seem to be stored features x epochs: "
          "transpose them";
    throw DataError(where + " is " + std::to_string(y->dims[0]) + " x " +
                    std::to_string(y->dims[1]) + "; it must be a vector of " +
                    std::to_string(rows) + " labels, one per row of '" +
                    variables.x + "'" + hint);
  }
  return ReadValues(mat, y.get(), where);
}

// The feature names, variable `name`: one per feature column.
std::vector<std::string> ReadNames(mat_t* mat,
                                   const MatLayout& layout,
                                   const std::string& path,
                                   const std::string& name,
                                   size_t cols) {
  const std::string where = Where(path, name, "feature names");
  MatVar info = ReadInfo(mat, layout, path, name, "feature names");
  CheckNameSizes(info.get(), layout, where, cols);
  MatVar names(Mat_VarRead(mat, name.c_str()));
  if (!names)
    throw DataError(where +
                    " cannot be read: it is damaged (a truncated file?) or "
                    "of a kind this reader does not know");
  CheckNameSizes(names.get(), layout, where, cols);
  return Names(names.get(), where);
}

}  // namespace

Dataset ReadMat(const std::string& file,
                const MatVariables& variables,
                bool requireLabels,
                const std::string& name) {
  const std::string& path = name.empty() ? file : name;  // for messages
  Mat_LogInitFunc("korva", SilentLog);
  // Likewise HDF5, which reads version 7.3 files and would print its error
  // stack on standard error.
  H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
  if (variables.x.empty())
    throw DataError(path +
                    ": a MATLAB file needs --x VAR to name the features");
  if (requireLabels && variables.y.empty())
    throw DataError(path + ": a MATLAB file needs --y VAR to name the labels");
  const std::string cannotOpen =
      path +
      ": cannot open it as a MATLAB file (missing, unreadable or not in MAT "
      "format)";
  const MatLayout layout = CheckedLayout(file, path, variables, cannotOpen);
  MatFile mat(Mat_Open(file.c_str(), MAT_ACC_RDONLY));
  if (!mat) throw DataError(cannotOpen);

  Dataset data;
  const Source source{file, path};
  ReadFeatures(mat.get(), layout, source, variables.x, data);
  if (!variables.y.empty()) {
    data.labels = ReadLabels(mat.get(), layout, source, variables, data);
    data.hasLabels = true;
  }
  if (!variables.names.empty())
    data.names = ReadNames(mat.get(), layout, path, variables.names, data.cols);
  return data;
}

}  // namespace Korva::Data
