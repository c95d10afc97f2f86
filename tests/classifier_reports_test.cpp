// The report texts and the weight file of DOZOD as the host receives them:
// the host's own text first, then WeightedClassifier's, then DOZOD's.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iomanip>
#include <iterator>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "plugin/dozod.h"

namespace {

// What the host's base writes ahead of the training report.
constexpr const char* kHostTrainingText =
    "Classifier: DOZOD (StepWise Linear Discriminant Analysis)\n"
    "Threshold: 0 (Max)\n";

class Dozod : public DOZOD {
 public:
  void SetResult(std::initializer_list<bool> flags,
                 std::initializer_list<double> weights,
                 double w0) {
    SelectedFeatures.Reset(flags.size());
    std::uint64_t i = 0;
    for (bool f : flags) SelectedFeatures[i++] = f;
    Weights.ReSize(static_cast<int>(weights.size()));
    int j = 0;
    for (double w : weights) Weights.element(j++) = w;
    W0 = w0;
  }
  void SetInversionMode(int mode) {
    InversionMode = static_cast<Korva::CovarianceInversionMode>(mode);
  }
  void SetScalar(bool scalar) { Scalar = scalar; }
};

std::string ShortInfo(const DOZOD& c) {
  std::ostringstream os;
  c.GetShortInfo(os);
  return os.str();
}

std::string TrainingInfo(const DOZOD& c) {
  std::ostringstream os;
  c.GetTrainingInfo(os);
  return os.str();
}

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

class WeightFile : public ::testing::Test {
 protected:
  void TearDown() override { std::remove(path.c_str()); }
  std::string Save(DOZOD& c) {
    EXPECT_EQ(c.SaveToFile(path.c_str()), 0);
    return ReadFile(path);
  }
  const std::string path = ::testing::TempDir() + "dozod_weights.txt";
};

TEST(ShortInfo, UntrainedShowsDefaults) {
  Dozod c;
  EXPECT_EQ(ShortInfo(c), "DOZOD: Scalar P(0.05, 0.1) | Max Iter. : 300 | ");
}

TEST(ShortInfo, ShowsConfiguredParameters) {
  Dozod c;
  ASSERT_EQ(c.SetPRange(0.01, 0.05), 0);
  c.SetMaxIter(50);
  EXPECT_EQ(ShortInfo(c), "DOZOD: Scalar P(0.01, 0.05) | Max Iter. : 50 | ");
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

TEST(TrainingInfo, UntrainedHasFourLinesAfterHostText) {
  Dozod c;
  EXPECT_EQ(TrainingInfo(c),
            std::string(kHostTrainingText) +
                "Covariance Matrix Inversion Mode: Normal Mode\n"
                "W0: 0\n"
                "Weights:\n"
                "Selected 0 features\n");
}

TEST(TrainingInfo, TrainedListsAllWeightsThenSelectedOnes) {
  Dozod c;
  c.SetResult({true, false, true}, {0.5, 0.0, -1.25}, 0.3);
  EXPECT_EQ(TrainingInfo(c),
            std::string(kHostTrainingText) +
                "Covariance Matrix Inversion Mode: Normal Mode\n"
                "W0: 0.3\n"
                "Weights:\t   0.5\n"
                "\t   0\n"
                "\t   -1.25\n"
                "\n"
                "Selected 2 features\n"
                "0.5\t\n"
                "-1.25\t\n");
}

TEST(TrainingInfo, WeightsShowSixSignificantDigits) {
  Dozod c;
  c.SetResult({true}, {0.123456789}, -1.234567);
  EXPECT_EQ(TrainingInfo(c),
            std::string(kHostTrainingText) +
                "Covariance Matrix Inversion Mode: Normal Mode\n"
                "W0: -1.23457\n"
                "Weights:\t   0.123457\n"
                "\n"
                "Selected 1 features\n"
                "0.123457\t\n");
}

// More flags than weights is outside what training and loading produce; the
// report then shows only the weights that exist.
TEST(TrainingInfo, FlagsBeyondWeightsAreNotRead) {
  Dozod c;
  c.SetResult({true, true, true}, {2.0}, 0.0);
  EXPECT_EQ(TrainingInfo(c),
            std::string(kHostTrainingText) +
                "Covariance Matrix Inversion Mode: Normal Mode\n"
                "W0: 0\n"
                "Weights:\t   2\n"
                "\n"
                "Selected 3 features\n"
                "2\t\n");
}

struct ModeCase {
  int mode;
  const char* header;
};

std::ostream& operator<<(std::ostream& os, const ModeCase& c) {
  return os << "InversionMode " << c.mode;
}

class InversionModeLine : public ::testing::TestWithParam<ModeCase> {};

TEST_P(InversionModeLine, NamesTheMode) {
  Dozod c;
  c.SetInversionMode(GetParam().mode);
  EXPECT_EQ(TrainingInfo(c),
            std::string(kHostTrainingText) + GetParam().header +
                "W0: 0\nWeights:\nSelected 0 features\n");
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(TrainingInfo, InversionModeLine, ::testing::Values(
    ModeCase{0, "Covariance Matrix Inversion Mode: Normal Mode\n"},
    ModeCase{1, "Covariance Matrix Inversion Mode: SVD Mode\n"},
    ModeCase{2, "Covariance Matrix Inversion Mode: Regular Inverse Mode\n"},
    ModeCase{3, "Covariance Matrix Inversion Mode: "}),
    [](const ::testing::TestParamInfo<ModeCase>& info) { return "Mode" + std::to_string(info.param.mode); });
// clang-format on

TEST_F(WeightFile, HoldsEveryWeightThenW0WithoutLineEnd) {
  Dozod c;
  c.SetResult({true, false, true}, {0.5, 0.0, -1.25}, 0.3);
  EXPECT_EQ(Save(c), "0.5\n0\n-1.25\n0.3");
}

TEST_F(WeightFile, UntrainedHoldsOnlyW0) {
  Dozod c;
  EXPECT_EQ(Save(c), "0");
}

TEST_F(WeightFile, RoundsToSixDigitsAndReplacesOldContent) {
  Dozod c;
  c.SetResult({true, true, true, true}, {1, 2, 3, 4}, 5);
  Save(c);
  c.SetResult({true}, {0.123456789}, 1234567.0);
  EXPECT_EQ(Save(c), "0.123457\n1.23457e+06");
}

TEST(WeightFileFailure, MissingDirectoryReturnsZeroAndCreatesNothing) {
  Dozod c;
  c.SetResult({true}, {1.0}, 0.0);
  const std::filesystem::path dir =
      std::filesystem::path(::testing::TempDir()) / "dozod_no_such_dir";
  std::filesystem::remove_all(dir);
  EXPECT_EQ(c.SaveToFile((dir / "weights.txt").string().c_str()), 0);
  EXPECT_FALSE(std::filesystem::exists(dir));
  EXPECT_EQ(c.SaveToFile(nullptr), 0);
}

}  // namespace
