#include "plugin/dozod.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "korva/module_entry_points.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(Dozod, FreshObjectHasDefaults) {
  DOZOD c;
  EXPECT_EQ(c.GetPEnter(), 0.05);
  EXPECT_EQ(c.GetPRemove(), 0.1);
  EXPECT_EQ(c.GetMaxIter(), 300);
  EXPECT_EQ(c.GetName(), "DOZOD");
  EXPECT_EQ(c.GetDescription(), "StepWise Linear Discriminant Analysis");
  EXPECT_FALSE(c.GetCredits().empty());
  EXPECT_EQ(c.GetSelectedFeatures().Count(), 0u);
  EXPECT_EQ(c.GetSelectedFeatures().Data(), nullptr);
  EXPECT_EQ(c.GetWeights().Nrows(), 0);
  EXPECT_FALSE(c.CanClassify());
}

struct Range {
  double pEnter;
  double pRemove;
  int status;
};

class PRange : public ::testing::TestWithParam<Range> {};

TEST_P(PRange, AcceptsOnlyZeroBelowEnterBelowRemoveUpToOne) {
  const Range r = GetParam();
  DOZOD c;
  EXPECT_EQ(c.SetPRange(r.pEnter, r.pRemove), r.status);
  if (r.status == 0) {
    EXPECT_EQ(c.GetPEnter(), r.pEnter);
    EXPECT_EQ(c.GetPRemove(), r.pRemove);
  } else {
    EXPECT_EQ(c.GetPEnter(), 0.05);
    EXPECT_EQ(c.GetPRemove(), 0.1);
  }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Dozod, PRange, ::testing::Values(
    Range{0.05, 0.05, -10}, Range{0.99, 1.0, 0},   Range{0.0, 0.1, -10},
    Range{0.2, 1.5, -10},   Range{0.3, 0.2, -10},  Range{0.1, 0.15, 0},
    Range{-0.1, 0.5, -10},  Range{1e-300, 2e-300, 0},
    Range{kNaN, 0.5, -10},  Range{0.1, kNaN, -10}, Range{kNaN, kNaN, -10}));
// clang-format on

TEST(Dozod, SetMaxIterStoresAnyValue) {
  DOZOD c;
  for (int v : {0, -5, 1, 2147483647}) {
    EXPECT_EQ(c.SetMaxIter(v), 0);
    EXPECT_EQ(c.GetMaxIter(), v);
  }
}

// The classify test looks at the flags only, never at the weights.
class FlagsOnly : public DOZOD {
 public:
  void SetWeights(int n) {
    Weights.ReSize(n);
    Weights = 1.0;
  }
};

TEST(Dozod, CanClassifyWhenAnyFlagIsSet) {
  FlagsOnly c;
  c.SetWeights(4);
  c.GetSelectedFeatures().Reset(4);
  EXPECT_FALSE(c.CanClassify()) << "all flags false, weights non-empty";
  c.GetSelectedFeatures()[3] = true;
  EXPECT_TRUE(c.CanClassify());
  c.GetSelectedFeatures().Reset(4);
  c.GetSelectedFeatures()[0] = true;
  c.SetWeights(0);
  EXPECT_TRUE(c.CanClassify()) << "a flag set, no weights";
}

TEST(FeatureFlagsTest, ResetReleasesAndClears) {
  FeatureFlags flags;
  flags.Reset(3);
  ASSERT_EQ(flags.Count(), 3u);
  flags[1] = true;
  EXPECT_EQ(flags.CountSelected(), 1u);
  flags.Reset(5);
  EXPECT_EQ(flags.Count(), 5u);
  EXPECT_EQ(flags.CountSelected(), 0u);
  flags.Reset(0);
  EXPECT_EQ(flags.Count(), 0u);
  EXPECT_EQ(flags.Data(), nullptr);
}

// Another classifier class, to check that release refuses foreign objects.
class Foreign : public Korva::WeightedClassifier {
 public:
  Foreign() : WeightedClassifier("Foreign", "Not a DOZOD") {}
  int DoTrain(NEWMAT::Matrix&,
              NEWMAT::ColumnVector&,
              ClassifierProgress*,
              std::list<std::string>&) override {
    return 0;
  }
};

TEST(EntryPoints, ReleaseStatuses) {
  Korva::ClassifierBase* object = nullptr;
  EXPECT_EQ(ReleaseInstance(&object), -20);
  EXPECT_EQ(object, nullptr);

  Foreign foreign;
  object = &foreign;
  EXPECT_EQ(ReleaseInstance(&object), -10);
  EXPECT_EQ(object, &foreign);
  EXPECT_EQ(foreign.GetName(), "Foreign") << "foreign object left alive";

  object = CreateInstance();
  ASSERT_NE(object, nullptr);
  EXPECT_NE(dynamic_cast<DOZOD*>(object), nullptr);
  EXPECT_EQ(ReleaseInstance(&object), 0);
  EXPECT_EQ(object, nullptr);
}

}  // namespace
