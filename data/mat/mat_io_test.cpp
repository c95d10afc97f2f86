// Hostile MATLAB files, each refused with a DataError that names the file,
// the variable and what is wrong, never read as made-up values; and sound
// files of every version, which pass the same checks.
#include "data/mat/mat_io.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <matio.h>

#include <cstdint>
#include <string>
#include <vector>

#include "testing/files.h"

namespace Korva::Data {
namespace {

using S = std::string;
using std::uint32_t;

S U32(uint32_t v) { return {reinterpret_cast<char*>(&v), 4}; }
// A version 5 part: tag (type, size), data, padding to 8 bytes.
S Part(uint32_t type, const S& data) {
  const S part = U32(type) + U32(uint32_t(data.size())) + data;
  return part + S((8 - part.size() % 8) % 8, '\0');
}
S Matrix(uint32_t flags, uint32_t r, uint32_t c, const S& name, const S& body) {
  return Part(14,
              Part(6, U32(flags) + U32(0)) + Part(5, U32(r) + U32(c)) +
                  Part(1, name) + body);
}
S One(double v) { return Part(9, {reinterpret_cast<char*>(&v), 8}); }
// A small element: at most 4 bytes of data inside the tag.
S Small(uint32_t type, const S& data) {
  return U32(uint32_t(data.size()) << 16 | type) + data +
         S(4 - data.size(), '\0');
}
// A version 5 file: the header, a label y = 1, then `rest`.
S V5(const S& rest) {
  S header = "MATLAB 5.0 MAT-file";
  header.resize(124, ' ');
  return header + S("\0\1IM", 4) + Matrix(6, 1, 1, "y", One(1)) + rest;
}
// y (240 values) then X (240 x 40) written by libmatio, less the last `cut`
// bytes.
S Saved(mat_ft version, matio_compression zip, size_t cut) {
  Testing::TempDir dir;
  std::vector<double> v(240 * 41);
  for (size_t i = 0; i < v.size(); ++i) v[i] = i * 0.25;
  size_t yDims[2] = {240, 1}, xDims[2] = {240, 40};
  mat_t* mat = Mat_CreateVer((dir / "s.mat").c_str(), nullptr, version);
  for (matvar_t* var :
       {Mat_VarCreate("y", MAT_C_DOUBLE, MAT_T_DOUBLE, 2, yDims, v.data(), 0),
        Mat_VarCreate("X", MAT_C_DOUBLE, MAT_T_DOUBLE, 2, xDims, &v[240], 0)}) {
    Mat_VarWrite(mat, var, zip);
    Mat_VarFree(var);
  }
  Mat_Close(mat);
  const S bytes = Testing::ReadFile(dir / "s.mat");
  return bytes.substr(0, bytes.size() - cut);
}
const S kX = Matrix(6, 1, 1, "X", One(2));

struct MatFile {
  const char* name;
  S (*bytes)();
  const char* message;  // part of the refusal; nullptr: read as saved
};

// clang-format off
const MatFile kFiles[] = {
    {"TextShorterThanItsSize", [] { return V5(kX + Matrix(1, 1, 1, "N", Matrix(4, 1, 100, "", Part(16, "ab")))); }, "variable 'N' (feature names): it holds fewer values than its dimensions declare"},
    {"LogicalCell", [] { return V5(Matrix(1 | 0x200, 1, 1, "X", Matrix(6, 1, 1, "", One(2)))); }, "variable 'X' (features) is not a numeric array"},
    {"CutShort", [] { return Saved(MAT_FT_MAT5, MAT_COMPRESSION_NONE, 40000); }, "variable 'X' (features): the file ends before its data (truncated or damaged)"},
    {"CompressedCutShort", [] { return Saved(MAT_FT_MAT5, MAT_COMPRESSION_ZLIB, 1000); }, "variable 'X' (features): the file ends before its data (truncated or damaged)"},
    {"CompressedCorrupt", [] { S b = Saved(MAT_FT_MAT5, MAT_COMPRESSION_ZLIB, 0); b[b.size() - 2000] ^= '\xFF'; return b; }, "variable 'X' (features): its compressed data ends early or is corrupt"},
    {"Version4CutShort", [] { return Saved(MAT_FT_MAT4, MAT_COMPRESSION_NONE, 40000); }, "variable 'X' (features): the file ends before its data (truncated or damaged)"},
    {"Version73CutShort", [] { return Saved(MAT_FT_MAT73, MAT_COMPRESSION_NONE, 40000); }, "variable 'X' (features) cannot be read: the file is truncated or damaged"},
    {"HugeDeclaredSize", [] { return V5(Matrix(6, 12000, 12000, "X", U32(9) + U32(1152000000) + One(0))); }, "variable 'X' (features): it declares 12000 x 12000 values of 8 bytes (1152000000 bytes), more than a file of"},
    {"Sparse", [] { return V5(Matrix(5, 2, 2, "X", Part(5, U32(0)) + Part(5, U32(0) + U32(0) + U32(1)) + One(1))); }, "variable 'X' (features) is a sparse matrix; store it as a full matrix: X = full(X)"},
    {"SoundVersion4", [] { return Saved(MAT_FT_MAT4, MAT_COMPRESSION_NONE, 0); }, nullptr},
    {"SoundVersion5", [] { return Saved(MAT_FT_MAT5, MAT_COMPRESSION_NONE, 0); }, nullptr},
    {"SoundCompressed", [] { return Saved(MAT_FT_MAT5, MAT_COMPRESSION_ZLIB, 0); }, nullptr},
    {"SoundVersion73", [] { return Saved(MAT_FT_MAT73, MAT_COMPRESSION_ZLIB, 0); }, nullptr},
    // A cell holding a matrix, then X and a variable of no known class: the checks walk through the cell to it.
    {"UnknownClassAfterACell", [] { return V5(Matrix(1, 1, 1, "c", Matrix(6, 1, 1, "", One(3))) + kX + Matrix(20, 1, 1, "z", One(1))); }, "unknown class 20 (damaged)"},
    // An empty variable beside X and y has class 0 (none); any other class number is not MATLAB's.
    {"SoundWithAnEmptyVariableOfNoClass", [] { return Saved(MAT_FT_MAT5, MAT_COMPRESSION_NONE, 0) + Matrix(0, 0, 0, "z", ""); }, nullptr},
    {"UnknownClass", [] { return Saved(MAT_FT_MAT5, MAT_COMPRESSION_NONE, 0) + Matrix(20, 1, 1, "z", One(1)); }, "unknown class 20 (damaged)"},
    // info = struct('fs', 256) as SciPy writes it: the field names "fs\0" fit in their tag.
    {"SoundWithStructOfShortFieldNames", [] { return Saved(MAT_FT_MAT5, MAT_COMPRESSION_NONE, 0) + Matrix(2, 1, 1, "info", Small(5, U32(3)) + Small(1, S("fs\0", 3)) + Matrix(6, 1, 1, "", One(256))); }, nullptr},
};
// clang-format on

class MatFiles : public testing::TestWithParam<MatFile> {};

// A hostile file is refused with a message that names the file and the
// variable; a sound one, which passes the same checks, reads as saved.
TEST_P(MatFiles, AreRefusedOrReadAsSaved) {
  Testing::TempDir dir;
  const S path = dir / "m.mat";
  Testing::WriteFile(path, GetParam().bytes());
  if (GetParam().message == nullptr) {
    const Dataset data = ReadMat(path, {"X", "y", ""}, true);
    ASSERT_EQ(data.rows * data.cols, 240 * 40);
    EXPECT_EQ(data.At(239, 39), (240 + 39 * 240 + 239) * 0.25);
    EXPECT_EQ(data.labels.at(7), 7 * 0.25);
    return;
  }
  EXPECT_THAT(
      [&] {
        ReadMat(path, {"X", "y", "N"}, true);
      },
      testing::ThrowsMessage<DataError>(
          testing::AllOf(testing::StartsWith(path + ": "),
                         testing::HasSubstr(GetParam().message))));
}

INSTANTIATE_TEST_SUITE_P(Table,
                         MatFiles,
                         testing::ValuesIn(kFiles),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace Korva::Data
