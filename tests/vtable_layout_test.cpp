// The virtual operations of the host's classes stand in the order that
// modules are compiled against. Under the Itanium C++ ABI a pointer to a
// virtual member function holds 1 + the byte offset of its slot; the virtual
// destructor takes slots 0 and 1.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "korva/classifier_base.h"
#include "weighted/weighted_classifier.h"

namespace {

template <typename MemberFunction>
std::ptrdiff_t Slot(MemberFunction function) {
  static_assert(sizeof(function) == 2 * sizeof(std::uintptr_t));
  std::uintptr_t words[2];
  std::memcpy(words, &function, sizeof(words));
  return static_cast<std::ptrdiff_t>((words[0] - 1) / sizeof(void*));
}

using Korva::ClassifierBase;
using Korva::WeightedClassifier;

TEST(VtableLayout, HostOperationsKeepTheirSlots) {
  // clang-format off
  const std::ptrdiff_t slots[] = {
      Slot(&ClassifierBase::GetShortInfo),       Slot(&ClassifierBase::GetInfo),
      Slot(&ClassifierBase::LoadFromFile),       Slot(&ClassifierBase::SaveToFile),
      Slot(&ClassifierBase::CanClassify),        Slot(&ClassifierBase::CanTrain),
      Slot(&ClassifierBase::CanEdit),            Slot(&ClassifierBase::EditConfiguration),
      Slot(&ClassifierBase::GetCredits),         Slot(&ClassifierBase::Train),
      Slot(&ClassifierBase::Train2),             Slot(&ClassifierBase::GetTrainingInfo),
      Slot(&ClassifierBase::GetBest),            Slot(&ClassifierBase::GetScore),
      Slot(&ClassifierBase::SortScoresFirstBest), Slot(&ClassifierBase::ReservedHook),
      Slot(&ClassifierBase::DoEdit),             Slot(&ClassifierBase::SortScoresAscending),
      Slot(&ClassifierBase::SortScoresDescending), Slot(&ClassifierBase::Write),
      Slot(&ClassifierBase::Read),               Slot(&ClassifierBase::WriteClassifier),
      Slot(&ClassifierBase::ReadClassifier),     Slot(&ClassifierBase::WriteCfg),
      Slot(&ClassifierBase::ReadCfg),            Slot(&ClassifierBase::WriteInfo),
      Slot(&ClassifierBase::ReadInfo),           Slot(&ClassifierBase::WriteProtocol),
      Slot(&ClassifierBase::ReadProtocol),       Slot(&ClassifierBase::WriteMore),
      Slot(&ClassifierBase::ReadMore),           Slot(&ClassifierBase::DoTrain),
      Slot(&WeightedClassifier::GetWeights),     Slot(&WeightedClassifier::DoGetScore),
      Slot(&WeightedClassifier::ComputeInverse),
  };
  // clang-format on
  for (std::size_t i = 0; i < std::size(slots); ++i)
    EXPECT_EQ(slots[i], static_cast<std::ptrdiff_t>(i) + 2)
        << "operation " << i;
}

TEST(VtableLayout, AddMessageIsTheThirdProgressOperation) {
  EXPECT_EQ(Slot(&ClassifierProgress::SetPosition), 2);
  EXPECT_EQ(Slot(&ClassifierProgress::AddMessage), 3);
}

}  // namespace
