#include "cli/p300_generator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <stdexcept>

#include "cli/csv_io.h"

namespace Korva::Cli {
namespace {

std::string CsvBytes(const Dataset& data) {
  std::ostringstream out;
  WriteCsv(out, data);
  return out.str();
}

int Column(const Dataset& data, const std::string& name) {
  for (int c = 0; c < data.cols; ++c)
    if (data.names[c] == name) return c;
  ADD_FAILURE() << "no column " << name;
  return 0;
}

// Mean of column c over the rows labelled `label`.
double ClassMean(const Dataset& data, int c, double label) {
  double sum = 0.0;
  int n = 0;
  for (int r = 0; r < data.rows; ++r) {
    if (data.labels[r] != label) continue;
    sum += data.At(r, c);
    ++n;
  }
  return sum / n;
}

// Pearson correlation of columns a and b over the non-target rows.
double Correlation(const Dataset& data, int a, int b) {
  const double ma = ClassMean(data, a, -1.0);
  const double mb = ClassMean(data, b, -1.0);
  double sab = 0.0, saa = 0.0, sbb = 0.0;
  for (int r = 0; r < data.rows; ++r) {
    if (data.labels[r] != -1.0) continue;
    const double da = data.At(r, a) - ma;
    const double db = data.At(r, b) - mb;
    sab += da * db;
    saa += da * da;
    sbb += db * db;
  }
  return sab / std::sqrt(saa * sbb);
}

TEST(P300Generator, SameSeedGivesSameBytesOtherSeedOtherData) {
  GeneratorOptions options;
  options.epochs = 120;
  options.seed = 42;
  const std::string first = CsvBytes(GenerateP300(options));
  EXPECT_EQ(first, CsvBytes(GenerateP300(options)));
  options.seed = 43;
  EXPECT_NE(first, CsvBytes(GenerateP300(options)));
}

TEST(P300Generator, ShapeNamesAndOneTargetInSix) {
  GeneratorOptions options;
  options.epochs = 600;
  options.channels = 8;
  options.samples = 20;
  const Dataset data = GenerateP300(options);
  ASSERT_EQ(data.rows, 600);
  ASSERT_EQ(data.cols, 160);
  ASSERT_EQ(data.names.size(), 160u);
  ASSERT_EQ(data.X.size(), 600u * 160u);
  EXPECT_TRUE(data.hasLabels);
  EXPECT_EQ(data.names[0], "Fz_01");
  EXPECT_EQ(data.names[26], "Cz_07");
  EXPECT_EQ(data.names[159], "PO8_20");
  int targets = 0;
  for (double label : data.labels) {
    ASSERT_TRUE(label == 1.0 || label == -1.0) << label;
    targets += label == 1.0;
  }
  EXPECT_EQ(targets, 100);
}

TEST(P300Generator, SampleNumbersArePaddedToTheWidestNumber) {
  GeneratorOptions options;
  options.epochs = 6;
  options.channels = 16;
  options.samples = 120;
  const Dataset data = GenerateP300(options);
  EXPECT_EQ(data.names[0], "Fz_001");
  EXPECT_EQ(data.names.back(), "O2_120");
}

// Class means over many epochs: the target response must sit where a P300
// and an occipital negativity sit, with realistic microvolt amplitudes.
TEST(P300Generator,
     TargetsCarryParietalPositivityAndEarlierOccipitalNegativity) {
  GeneratorOptions options;
  options.epochs = 3000;
  const Dataset data = GenerateP300(options);
  // 20 samples over 800 ms: sample 10 is centred at 380 ms, 6 at 220 ms.
  auto difference = [&](const std::string& name) {
    const int c = Column(data, name);
    return ClassMean(data, c, 1.0) - ClassMean(data, c, -1.0);
  };
  EXPECT_GT(difference("Pz_10"), 3.0);
  EXPECT_LT(difference("Pz_10"), 10.0);
  EXPECT_GT(difference("Pz_10"), difference("Fz_10") + 2.0);
  EXPECT_LT(difference("Oz_06"), -1.0);
  EXPECT_NEAR(difference("Pz_01"), 0.0, 1.0) << "no response at stimulus onset";
  EXPECT_NEAR(difference("Oz_20"), 0.0, 1.0) << "no response at 780 ms";
}

TEST(P300Generator, NoiseIsCorrelatedAcrossNeighbouringSamplesAndChannels) {
  GeneratorOptions options;
  options.epochs = 3000;
  const Dataset data = GenerateP300(options);
  const int pz5 = Column(data, "Pz_05");
  EXPECT_GT(Correlation(data, pz5, Column(data, "Pz_06")), 0.4);
  EXPECT_GT(Correlation(data, pz5, Column(data, "P3_05")), 0.4);
  EXPECT_GT(Correlation(data, pz5, Column(data, "Pz_06")),
            Correlation(data, pz5, Column(data, "Pz_15")) + 0.2);
  EXPECT_GT(Correlation(data, pz5, Column(data, "P3_05")),
            Correlation(data, pz5, Column(data, "Fz_05")));
}

struct BadOptions {
  int epochs, channels, samples;
  double ratio;
};

class GeneratorRefuses : public ::testing::TestWithParam<BadOptions> {};

TEST_P(GeneratorRefuses, OptionsOutsideTheirRange) {
  GeneratorOptions options;
  options.epochs = GetParam().epochs;
  options.channels = GetParam().channels;
  options.samples = GetParam().samples;
  options.targetRatio = GetParam().ratio;
  EXPECT_FALSE(CheckGeneratorOptions(options).empty());
  EXPECT_THROW(GenerateP300(options), std::invalid_argument);
}

INSTANTIATE_TEST_SUITE_P(P300Generator,
                         GeneratorRefuses,
                         ::testing::Values(BadOptions{0, 8, 20, 0.2},
                                           BadOptions{10, 0, 20, 0.2},
                                           BadOptions{10, 33, 20, 0.2},
                                           BadOptions{10, 8, 0, 0.2},
                                           BadOptions{10, 8, 20, 0.0},
                                           BadOptions{10, 8, 20, 1.0},
                                           BadOptions{10, 8, 20, NAN}));

}  // namespace
}  // namespace Korva::Cli
