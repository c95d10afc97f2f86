#include "data/mat_io.h"

#include <matio.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

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

std::string VariableList(mat_t* mat) {
  size_t n = 0;
  char** names = Mat_GetDir(mat, &n);
  std::string list;
  for (size_t i = 0; names != nullptr && i < n; ++i)
    list += (i ? ", " : "") + std::string(names[i] ? names[i] : "");
  return list.empty() ? "none" : list;
}

MatVar ReadVariable(mat_t* mat,
                    const std::string& path,
                    const std::string& name,
                    const char* role) {
  MatVar var(Mat_VarRead(mat, name.c_str()));
  if (!var) {
    std::string list = VariableList(mat);
    throw DataError(path + ": no variable '" + name + "' for the " + role +
                    " (the file holds: " + list + ")");
  }
  return var;
}

bool IsNumericClass(matio_classes c) {
  return c == MAT_C_DOUBLE || c == MAT_C_SINGLE ||
         (c >= MAT_C_INT8 && c <= MAT_C_UINT64);
}

// The elements of a real numeric variable as doubles, in MATLAB's
// column-major order.
std::vector<double> NumericValues(const matvar_t* var,
                                  const std::string& path,
                                  const char* role) {
  const std::string where = path + ": variable '" +
                            std::string(var->name ? var->name : "") + "' (" +
                            role + ")";
  if (!IsNumericClass(var->class_type) && !var->isLogical)
    throw DataError(where + " is not a numeric array");
  if (var->isComplex) throw DataError(where + " is complex");
  if (var->rank != 2)
    throw DataError(where + " has " + std::to_string(var->rank) +
                    " dimensions; it must be a matrix");
  const size_t rows = var->dims[0];
  const size_t cols = var->dims[1];
  if (cols != 0 && rows > std::numeric_limits<size_t>::max() / 8 / cols)
    throw DataError(where + " is too large");
  const size_t n = rows * cols;
  if (n > 0 && var->data == nullptr) throw DataError(where + " holds no data");
  if (n > 0 && var->nbytes / Mat_SizeOf(var->data_type) < n)
    throw DataError(where + " holds fewer values than its size says");
  std::vector<double> values(n);
  auto copy = [&](auto* data) {
    for (size_t i = 0; i < n; ++i) values[i] = static_cast<double>(data[i]);
  };
  switch (var->data_type) {
    case MAT_T_DOUBLE:
      copy(static_cast<const double*>(var->data));
      break;
    case MAT_T_SINGLE:
      copy(static_cast<const float*>(var->data));
      break;
    case MAT_T_INT8:
      copy(static_cast<const std::int8_t*>(var->data));
      break;
    case MAT_T_UINT8:
      copy(static_cast<const std::uint8_t*>(var->data));
      break;
    case MAT_T_INT16:
      copy(static_cast<const std::int16_t*>(var->data));
      break;
    case MAT_T_UINT16:
      copy(static_cast<const std::uint16_t*>(var->data));
      break;
    case MAT_T_INT32:
      copy(static_cast<const std::int32_t*>(var->data));
      break;
    case MAT_T_UINT32:
      copy(static_cast<const std::uint32_t*>(var->data));
      break;
    case MAT_T_INT64:
      copy(static_cast<const std::int64_t*>(var->data));
      break;
    case MAT_T_UINT64:
      copy(static_cast<const std::uint64_t*>(var->data));
      break;
    default:
      throw DataError(where + " has an element type this reader does not know");
  }
  for (size_t i = 0; i < n; ++i) {
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
  for (int d = 0; d < var->rank; ++d) n *= var->dims[d];
  return n;
}

std::vector<std::string> Names(const matvar_t* var,
                               const std::string& path,
                               size_t expected) {
  const std::string where = path + ": variable '" +
                            std::string(var->name ? var->name : "") +
                            "' (feature names)";
  std::vector<std::string> names;
  auto charText = [&](const matvar_t* text, size_t row, size_t rows) {
    std::string name;
    const size_t n = ElementCount(text);
    if (n > 0 && text->data == nullptr)
      throw DataError(where + " holds no text");
    const size_t cols = rows == 0 ? 0 : n / rows;
    for (size_t c = 0; c < cols; ++c)
      if (!AppendChar(name, text, row + c * rows))
        throw DataError(where + " holds text of an unknown encoding");
    return TrimRight(name);
  };
  if (var->class_type == MAT_C_CELL) {
    const size_t n = ElementCount(var);
    if (n != expected)
      throw DataError(where + " holds " + std::to_string(n) + " names for " +
                      std::to_string(expected) + " features");
    for (size_t i = 0; i < n; ++i) {
      matvar_t* cell =
          Mat_VarGetCell(const_cast<matvar_t*>(var), static_cast<int>(i));
      if (cell == nullptr || ElementCount(cell) == 0) {
        names.emplace_back();
        continue;
      }
      if (cell->class_type != MAT_C_CHAR)
        throw DataError(where + ": cell " + std::to_string(i + 1) +
                        " is not text");
      names.push_back(charText(cell, 0, 1));
    }
  } else if (var->class_type == MAT_C_CHAR && var->rank == 2) {
    const size_t rows = var->dims[0];
    if (rows != expected)
      throw DataError(where + " holds " + std::to_string(rows) +
                      " rows of names for " + std::to_string(expected) +
                      " features");
    for (size_t r = 0; r < rows; ++r) names.push_back(charText(var, r, rows));
  } else {
    throw DataError(where +
                    " is neither a cell array of text nor a char matrix");
  }
  return names;
}

}  // namespace

bool IsMatFile(const std::string& path) {
  if (path.size() < 4) return false;
  std::string end = path.substr(path.size() - 4);
  for (char& c : end)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return end == ".mat";
}

Dataset ReadMat(const std::string& path,
                const MatVariables& variables,
                bool requireLabels) {
  Mat_LogInitFunc("korva", SilentLog);
  if (variables.x.empty())
    throw DataError(path +
                    ": a MATLAB file needs --x VAR to name the features");
  if (requireLabels && variables.y.empty())
    throw DataError(path + ": a MATLAB file needs --y VAR to name the labels");
  MatFile mat(Mat_Open(path.c_str(), MAT_ACC_RDONLY));
  if (!mat)
    throw DataError(path +
                    ": cannot open it as a MATLAB file (missing, "
                    "unreadable or not in MAT format)");

  Dataset data;
  MatVar x = ReadVariable(mat.get(), path, variables.x, "features");
  const std::vector<double> columnMajor =
      NumericValues(x.get(), path, "features");
  const size_t rows = x->dims[0];
  const size_t cols = x->dims[1];
  if (rows == 0 || cols == 0)
    throw DataError(path + ": variable '" + variables.x +
                    "' (features) is empty");
  if (rows > static_cast<size_t>(std::numeric_limits<int>::max()) ||
      cols > static_cast<size_t>(std::numeric_limits<int>::max()))
    throw DataError(path + ": variable '" + variables.x + "' is too large");
  data.rows = static_cast<int>(rows);
  data.cols = static_cast<int>(cols);
  data.X.resize(rows * cols);
  for (size_t c = 0; c < cols; ++c)
    for (size_t r = 0; r < rows; ++r)
      data.X[r * cols + c] = columnMajor[c * rows + r];

  if (!variables.y.empty()) {
    MatVar y = ReadVariable(mat.get(), path, variables.y, "labels");
    std::vector<double> labels = NumericValues(y.get(), path, "labels");
    const bool isVector = y->dims[0] == 1 || y->dims[1] == 1;
    if (!isVector || labels.size() != rows) {
      std::string hint;
      if (labels.size() == cols && cols != rows)
        hint =
            "; the features seem to be stored features x epochs: "
            "transpose them";
      throw DataError(path + ": variable '" + variables.y + "' (labels) is " +
                      std::to_string(y->dims[0]) + " x " +
                      std::to_string(y->dims[1]) + "; it must be a vector of " +
                      std::to_string(rows) + " labels, one per row of '" +
                      variables.x + "'" + hint);
    }
    data.labels = std::move(labels);
    data.hasLabels = true;
  }
  if (!variables.names.empty()) {
    MatVar names =
        ReadVariable(mat.get(), path, variables.names, "feature names");
    data.names = Names(names.get(), path, cols);
  }
  return data;
}

}  // namespace Korva::Data
