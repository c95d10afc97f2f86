#include "data/folds.h"

#include <gtest/gtest.h>

namespace Korva::Data {
namespace {

class Folds : public ::testing::Test {
 protected:
  void SetUp() override {
    labels.assign(12, 1.0);
    labels.resize(42, -1.0);
    labels.resize(45, 0.5);
  }
  std::vector<double> labels;
};

TEST_F(Folds, EveryFoldHoldsEachClassInProportionAndTheSeedDecides) {
  const std::vector<int> fold = StratifiedFolds(labels, 5, 7);
  ASSERT_EQ(fold.size(), labels.size());
  std::vector<int> positives(5), negatives(5), sizes(5);
  for (size_t i = 0; i < fold.size(); ++i) {
    ASSERT_GE(fold[i], 0);
    ASSERT_LT(fold[i], 5);
    ++sizes[fold[i]];
    positives[fold[i]] += labels[i] == 1.0;
    negatives[fold[i]] += labels[i] == -1.0;
  }
  for (int k = 0; k < 5; ++k) {
    EXPECT_TRUE(positives[k] == 2 || positives[k] == 3) << positives[k];
    EXPECT_EQ(negatives[k], 6);
    EXPECT_EQ(sizes[k], 9);
  }
  EXPECT_EQ(StratifiedFolds(labels, 5, 7), fold);
  EXPECT_NE(StratifiedFolds(labels, 5, 8), fold);
}

TEST_F(Folds, RefusesMoreFoldsThanRowsOfAClassOrFewerThanTwo) {
  EXPECT_TRUE(StratifiedFolds(labels, 13, 1).empty());
  EXPECT_FALSE(StratifiedFolds(labels, 12, 1).empty());
  EXPECT_TRUE(StratifiedFolds(labels, 1, 1).empty());
}

}  // namespace
}  // namespace Korva::Data
