#include "data/p300_generator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <stdexcept>

#include "data/csv_io.h"
#include "data/csv_write.h"

namespace Korva::Data {
namespace {

std::string CsvBytes(const Dataset& data) {
  std::ostringstream out;
  WriteCsv(out, data);
  return out.str();
}

TEST(P300Generator, ShapeNamesTargetsAndSeeds) {
  GeneratorOptions options;
  options.epochs = 600;
  const Dataset data = GenerateP300(options);
  ASSERT_EQ(data.rows * data.cols, 600 * 160);
  EXPECT_EQ(data.names[0], "Fz_01");
  EXPECT_EQ(data.names[26], "Cz_07");
  EXPECT_EQ(data.names[159], "PO8_20");
  int targets = 0;
  for (double label : data.labels)
    targets += label == 1.0 ? 1 : label == -1.0 ? 0 : 1000;
  EXPECT_EQ(targets, 100);
  EXPECT_EQ(CsvBytes(data), CsvBytes(GenerateP300(options)));
  options.seed = 43;
  EXPECT_NE(CsvBytes(data), CsvBytes(GenerateP300(options)));
  // Sample numbers are padded to the widest number.
  options.channels = 16;
  options.samples = 120;
  options.epochs = 6;
  EXPECT_EQ(GenerateP300(options).names.back(), "O2_120");
}

// Class means over many epochs, computed here from the generated values.
class P300Statistics : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    GeneratorOptions options;
    options.epochs = 3000;
    data_ = GenerateP300(options);
  }
  static int Column(const std::string& name) {
    for (int c = 0; c < data_.cols; ++c)
      if (data_.names[c] == name) return c;
    ADD_FAILURE() << "no column " << name;
    return 0;
  }
  static double ClassMean(int c, double label) {
    double sum = 0.0;
    int n = 0;
    for (int r = 0; r < data_.rows; ++r)
      if (data_.labels[r] == label) sum += data_.At(r, c), ++n;
    return sum / n;
  }
  // Target minus non-target mean of a column.
  static double Difference(const std::string& name) {
    return ClassMean(Column(name), 1.0) - ClassMean(Column(name), -1.0);
  }
  inline static Dataset data_;
};

// 20 samples over 800 ms: sample 10 is centred at 380 ms, 6 at 220 ms. The
// target response sits where a P300 and an occipital negativity sit, with
// realistic microvolt amplitudes.
TEST_F(P300Statistics, TargetsCarryParietalPositivityAndOccipitalNegativity) {
  EXPECT_GT(Difference("Pz_10"), 3.0);
  EXPECT_LT(Difference("Pz_10"), 10.0);
  EXPECT_GT(Difference("Pz_10"), Difference("Fz_10") + 2.0);
  EXPECT_LT(Difference("Oz_06"), -1.0);
  EXPECT_NEAR(Difference("Pz_01"), 0.0, 1.0) << "no response at onset";
  EXPECT_NEAR(Difference("Oz_20"), 0.0, 1.0) << "no response at 780 ms";
}

TEST(P300Generator, RefusesOptionsOutsideTheirRange) {
  // clang-format off
  const double bad[][4] = {{0, 8, 20, 0.2}, {10, 0, 20, 0.2}, {10, 33, 20, 0.2}, {10, 8, 0, 0.2},
                           {10, 8, 20, 0.0}, {10, 8, 20, 1.0}, {10, 8, 20, NAN}};
  // clang-format on
  for (const auto& [epochs, channels, samples, ratio] : bad) {
    GeneratorOptions options;
    options.epochs = static_cast<int>(epochs);
    options.channels = static_cast<int>(channels);
    options.samples = static_cast<int>(samples);
    options.targetRatio = ratio;
    EXPECT_FALSE(CheckGeneratorOptions(options).empty());
    EXPECT_THROW(GenerateP300(options), std::invalid_argument);
  }
}

}  // namespace
}  // namespace Korva::Data
