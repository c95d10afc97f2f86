#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "korva/module_entry_points.h"
#include "testing/dozod_probe.h"
#include "testing/stub_classifier.h"

namespace Korva::Testing {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// 0 < pEnter < pRemove <= 1; a refused pair changes nothing.
TEST(Dozod, SetPRangeAcceptsOnlyZeroBelowEnterBelowRemoveUpToOne) {
  // clang-format off
  const double pairs[][3] = {
      {0.05, 0.05, -10}, {0.99, 1.0, 0}, {0.0, 0.1, -10}, {0.2, 1.5, -10}, {0.3, 0.2, -10},
      {0.1, 0.15, 0}, {-0.1, 0.5, -10}, {1e-300, 2e-300, 0}, {kNaN, 0.5, -10}, {0.1, kNaN, -10}};
  // clang-format on
  for (const auto& [pEnter, pRemove, status] : pairs) {
    DOZOD c;
    EXPECT_EQ(c.SetPRange(pEnter, pRemove), status) << pEnter << " " << pRemove;
    EXPECT_EQ(c.GetPEnter(), status ? 0.05 : pEnter);
    EXPECT_EQ(c.GetPRemove(), status ? 0.1 : pRemove);
  }
}

// The flags decide, never the weights.
TEST(Dozod, CanClassifyWhenAnyFlagIsSet) {
  DozodProbe c;
  EXPECT_FALSE(c.CanClassify());
  c.SetResult({false, false, false, false}, {1, 1, 1, 1});
  EXPECT_FALSE(c.CanClassify());
  c.SetResult({false, false, false, true}, {1, 1, 1, 1});
  EXPECT_TRUE(c.CanClassify());
  c.SetResult({true}, {});
  EXPECT_TRUE(c.CanClassify());
}

TEST(EntryPoints, ReleaseStatuses) {
  ClassifierBase* object = nullptr;
  EXPECT_EQ(ReleaseInstance(&object), kStatusMissing);
  StubClassifier foreign;
  object = &foreign;
  EXPECT_EQ(ReleaseInstance(&object), kStatusRejected);
  EXPECT_EQ(object, &foreign);
  object = CreateInstance();
  ASSERT_NE(dynamic_cast<DOZOD*>(object), nullptr);
  EXPECT_EQ(ReleaseInstance(&object), kStatusOk);
  EXPECT_EQ(object, nullptr);
}

}  // namespace
}  // namespace Korva::Testing
