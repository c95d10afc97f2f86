// Replays every kept fuzz input (the seed corpora in fuzz/corpus/TARGET and
// the inputs that once showed a fault, in fuzz/regressions/TARGET) through
// the same harnesses the fuzz targets run, in the normal build.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz/harnesses.h"
#include "testing/files.h"

namespace {

namespace fs = std::filesystem;

using Harness = std::string (*)(const std::uint8_t*, std::size_t);

struct Target {
  const char* name;
  Harness harness;
};

constexpr Target kTargets[] = {
    {"document", Korva::Fuzz::FuzzDocument},
    {"sections", Korva::Fuzz::FuzzSections},
    {"csv", Korva::Fuzz::FuzzCsv},
    {"training", Korva::Fuzz::FuzzTraining},
    {"mat", Korva::Fuzz::FuzzMat},
    {"report", Korva::Fuzz::FuzzReport},
    {"brainvision", Korva::Fuzz::FuzzBrainVision},
    {"gdf", Korva::Fuzz::FuzzGdf},
    {"edf", Korva::Fuzz::FuzzEdf},
    {"headset_csv", Korva::Fuzz::FuzzHeadsetCsv},
    {"headset_lines", Korva::Fuzz::FuzzHeadsetLines},
    {"recipe", Korva::Fuzz::FuzzRecipe},
    {"speller", Korva::Fuzz::FuzzSpeller},
    {"xdf", Korva::Fuzz::FuzzXdf},
    {"bids_tsv", Korva::Fuzz::FuzzBidsTsv},
    {"fieldtrip", Korva::Fuzz::FuzzFieldTrip},
};

struct KeptInput {
  Target target;
  fs::path file;
};

// Every kept input of every target.
std::vector<KeptInput> ListInputs() {
  std::vector<KeptInput> inputs;
  for (const Target& target : kTargets) {
    for (const char* kind : {"corpus", "regressions"}) {
      const fs::path dir = fs::path(KORVA_FUZZ_DIR) / kind / target.name;
      if (!fs::is_directory(dir)) continue;
      for (const std::string& name : Korva::Testing::Files(dir))
        inputs.push_back({target, dir / name});
    }
  }
  return inputs;
}

std::string TestName(const testing::TestParamInfo<KeptInput>& info) {
  std::string name =
      std::string(info.param.target.name) + "_" +
      info.param.file.parent_path().parent_path().filename().string() + "_" +
      info.param.file.filename().string();
  for (char& c : name)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return name;
}

class KeptFuzzInput : public testing::TestWithParam<KeptInput> {};

// CSV inputs must also read the same with one and three threads.
TEST_P(KeptFuzzInput, PassesEveryCheckOfItsHarness) {
  const std::string text = Korva::Testing::ReadFile(GetParam().file);
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
  EXPECT_EQ(GetParam().target.harness(bytes, text.size()), "");
  if (GetParam().target.harness == Korva::Fuzz::FuzzCsv) {
    EXPECT_EQ(Korva::Fuzz::CompareCsvThreads(bytes, text.size()), "");
  }
}

INSTANTIATE_TEST_SUITE_P(Fuzz,
                         KeptFuzzInput,
                         testing::ValuesIn(ListInputs()),
                         TestName);

// An empty or moved folder would make the replay pass vacuously.
TEST(KeptFuzzInputs, EveryTargetHasSeeds) {
  for (const Target& target : kTargets)
    EXPECT_GE(
        Korva::Testing::Files(fs::path(KORVA_FUZZ_DIR) / "corpus" / target.name)
            .size(),
        5u);
}

}  // namespace
