#include "ui/swlda_form_logic.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <utility>

#include "plugin/dozod.h"

namespace {

using Korva::ClassifierBase;

// A fresh classifier (300, 0.05, 0.1, threshold 0, "Max") behind the form
// logic, and the messages the form showed.
struct Form : SwldaForm::MessageSink {
  void Show(const std::string& text,
            const std::string& caption,
            unsigned style) override {
    shown += text + " | " + caption + " | " + std::to_string(style) + "\n";
  }
  DOZOD classifier;
  SwldaForm::DozodSettings settings{classifier};
  std::string shown;
};

// A stored p / 100.0 shows as p truncated, which is p itself except where
// p / 100.0 × 100.0 lands just below p in binary floating point (the dialog
// test stores such a value through OK). NaN shows as 0, values beyond the
// int range as its nearest end.
TEST(FormLogic, ShowsWholePercentTruncated) {
  for (int p = 1; p <= 99; ++p)
    EXPECT_EQ(SwldaForm::TruncatedPercent(p / 100.0),
              p == 29 || p == 57 || p == 58 ? p - 1 : p)
        << p;
  // clang-format off
  const std::pair<double, int> edges[] = {{-0.295, -29}, {NAN, 0}, {HUGE_VAL, INT_MAX},
                                          {21474836.47, INT_MAX}, {-21474836.48, INT_MIN}};
  // clang-format on
  for (const auto& [value, shown] : edges)
    EXPECT_EQ(SwldaForm::TruncatedPercent(value), shown) << value;
}

// A mode position that selects no radio button leaves the mode as it was.
TEST(FormLogic, StoresTheModeButKeepsItForAPositionNotOffered) {
  Form form;
  form.classifier.SetThresholdMode(ClassifierBase::RangeMode);
  SwldaForm::BitBtnOKClick({300, 5, 10, 0, -1}, form.settings, form);
  EXPECT_EQ(form.classifier.GetThresholdMode(), ClassifierBase::RangeMode);
  SwldaForm::BitBtnOKClick({300, 5, 10, 0, 0}, form.settings, form);
  EXPECT_EQ(form.classifier.GetThresholdMode(), ClassifierBase::MaxMode);
}

// p enter not below p remove: a warning and nothing stored. A pair that the
// classifier refuses (positions the spinners cannot reach): a plain message,
// the old pair kept, the rest stored. The form closes with OK either way.
TEST(FormLogic, BadPairsShowOneMessageAndStoreAccordingly) {
  const int pairs[][3] = {{10, 10, 0}, {20, 15, 0}, {0, 10, 1}, {5, 101, 1}};
  for (const auto& [pEnter, pRemove, refusedByClassifier] : pairs) {
    Form form;
    EXPECT_EQ(SwldaForm::BitBtnOKClick(
                  {50, pEnter, pRemove, 40, 1}, form.settings, form),
              SwldaForm::kModalOk);
    EXPECT_EQ(form.shown,
              refusedByClassifier
                  ? "Invalid p range (max, min) | Error | 0\n"
                  : "Invalid p range (max < min) | Error | 48\n");
    EXPECT_EQ(form.classifier.GetPEnter(), 0.05);
    EXPECT_EQ(form.classifier.GetMaxIter(), refusedByClassifier ? 50 : 300);
  }
}

}  // namespace
