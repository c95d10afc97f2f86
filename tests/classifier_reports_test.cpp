// The report texts and the weight file of DOZOD as the host receives them:
// the host's own text first, then WeightedClassifier's, then DOZOD's.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iterator>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "plugin/dozod.h"

namespace {

// What the host's base writes ahead of the training report.
constexpr const char* kHostTrainingText =
    "Classifier: DOZOD (StepWise Linear Discriminant Analysis)\n"
    "Threshold: 0 (Max)\n";

struct Result {
  std::vector<bool> flags;
  std::vector<double> weights;
  double w0 = 0.0;
  int inversionMode = 0;
};

class Dozod : public DOZOD {
 public:
  explicit Dozod(const Result& result = {}) {
    SelectedFeatures.Reset(result.flags.size());
    for (std::size_t i = 0; i < result.flags.size(); ++i)
      SelectedFeatures[i] = result.flags[i];
    Weights.ReSize(static_cast<int>(result.weights.size()));
    for (std::size_t j = 0; j < result.weights.size(); ++j)
      Weights.element(static_cast<int>(j)) = result.weights[j];
    W0 = result.w0;
    InversionMode =
        static_cast<Korva::CovarianceInversionMode>(result.inversionMode);
  }
  void SetScalar(bool scalar) { Scalar = scalar; }
};

std::string ShortInfo(const DOZOD& c) {
  std::ostringstream os;
  c.GetShortInfo(os);
  return os.str();
}

TEST(ShortInfo, ShowsTheParameters) {
  Dozod c;
  EXPECT_EQ(ShortInfo(c), "DOZOD: Scalar P(0.05, 0.1) | Max Iter. : 300 | ");
  ASSERT_EQ(c.SetPRange(0.01, 0.05), 0);
  c.SetMaxIter(-7);
  c.SetScalar(false);
  EXPECT_EQ(ShortInfo(c), "DOZOD: P(0.01, 0.05) | Max Iter. : -7 | ");
}

// The reports append to what the host already wrote, in the host's format,
// and leave that format as it was.
TEST(ShortInfo, UsesTheHostStreamAsItIs) {
  Dozod c;
  std::ostringstream os;
  os << "prefix|" << std::fixed << std::setprecision(3);
  const auto flags = os.flags();
  c.GetShortInfo(os);
  EXPECT_EQ(os.str(),
            "prefix|DOZOD: Scalar P(0.050, 0.100) | Max Iter. : 300 | ");
  EXPECT_EQ(os.flags(), flags);
  EXPECT_EQ(os.precision(), 3);
}

struct ReportCase {
  const char* name;
  Result result;
  const char* training;  // after the host's text
  const char* file;      // the weight file, byte for byte
};

void PrintTo(const ReportCase& c, std::ostream* os) { *os << c.name; }

class Reports : public ::testing::TestWithParam<ReportCase> {
 protected:
  void TearDown() override { std::remove(path.c_str()); }
  // One file per process: ctest runs the cases in parallel processes.
  const std::string path = ::testing::TempDir() + "dozod_weights_" +
                           std::to_string(getpid()) + ".txt";
};

TEST_P(Reports, TrainingInfoAndWeightFile) {
  Dozod c(GetParam().result);
  std::ostringstream os;
  c.GetTrainingInfo(os);
  EXPECT_EQ(os.str(), std::string(kHostTrainingText) + GetParam().training);
  std::ofstream(path) << "older and longer content\n";
  EXPECT_EQ(c.SaveToFile(path.c_str()), 0);
  std::ifstream file(path, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}),
            GetParam().file);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(DozodReports, Reports, ::testing::Values(
    ReportCase{"Untrained", {},
               "Covariance Matrix Inversion Mode: Normal Mode\nW0: 0\nWeights:\nSelected 0 features\n",
               "0"},
    ReportCase{"Trained", {{true, false, true}, {0.5, 0.0, -1.25}, 0.3},
               "Covariance Matrix Inversion Mode: Normal Mode\nW0: 0.3\n"
               "Weights:\t   0.5\n\t   0\n\t   -1.25\n\nSelected 2 features\n0.5\t\n-1.25\t\n",
               "0.5\n0\n-1.25\n0.3"},
    ReportCase{"SixSignificantDigits", {{true}, {0.123456789}, 1234567.0},
               "Covariance Matrix Inversion Mode: Normal Mode\nW0: 1.23457e+06\n"
               "Weights:\t   0.123457\n\nSelected 1 features\n0.123457\t\n",
               "0.123457\n1.23457e+06"},
    ReportCase{"SvdMode", {{}, {}, 0.0, 1},
               "Covariance Matrix Inversion Mode: SVD Mode\nW0: 0\nWeights:\nSelected 0 features\n", "0"},
    ReportCase{"RegularInverseMode", {{}, {}, 0.0, 2},
               "Covariance Matrix Inversion Mode: Regular Inverse Mode\nW0: 0\nWeights:\nSelected 0 features\n", "0"},
    ReportCase{"UnknownModeContinuesTheLine", {{}, {}, 0.0, 3},
               "Covariance Matrix Inversion Mode: W0: 0\nWeights:\nSelected 0 features\n", "0"},
    // More flags than weights is outside what training and loading produce:
    // only the weights that exist are shown.
    ReportCase{"FlagsBeyondWeights", {{true, true, true}, {2.0}, 0.0},
               "Covariance Matrix Inversion Mode: Normal Mode\nW0: 0\n"
               "Weights:\t   2\n\nSelected 3 features\n2\t\n",
               "2\n0"}),
    [](const ::testing::TestParamInfo<ReportCase>& info) { return std::string(info.param.name); });
// clang-format on

TEST(WeightFile, MissingDirectoryReturnsZeroAndCreatesNothing) {
  Dozod c({{true}, {1.0}, 0.0});
  const std::filesystem::path dir =
      std::filesystem::path(::testing::TempDir()) / "dozod_no_such_dir";
  std::filesystem::remove_all(dir);
  EXPECT_EQ(c.SaveToFile((dir / "weights.txt").string().c_str()), 0);
  EXPECT_FALSE(std::filesystem::exists(dir));
  EXPECT_EQ(c.SaveToFile(nullptr), 0);
}

}  // namespace
