// Replays every kept fuzz input (the seed corpora in fuzz/corpus/TARGET and
// the inputs that once showed a fault, in fuzz/regressions/TARGET) through
// the same harnesses the fuzz targets run, in the normal build.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "fuzz/harnesses.h"

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
};

struct KeptInput {
  Target target;
  fs::path file;
};

void PrintTo(const KeptInput& input, std::ostream* os) {
  *os << input.file.filename().string();
}

std::vector<KeptInput> ListInputs() {
  std::vector<KeptInput> inputs;
  for (const Target& target : kTargets) {
    for (const char* kind : {"corpus", "regressions"}) {
      const fs::path dir = fs::path(KORVA_FUZZ_DIR) / kind / target.name;
      if (!fs::is_directory(dir)) continue;
      std::vector<fs::path> files;
      for (const auto& entry : fs::directory_iterator(dir))
        if (entry.is_regular_file()) files.push_back(entry.path());
      std::sort(files.begin(), files.end());
      for (const fs::path& file : files) inputs.push_back({target, file});
    }
  }
  return inputs;
}

std::vector<std::uint8_t> ReadBytes(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
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
  const std::vector<std::uint8_t> bytes = ReadBytes(GetParam().file);
  EXPECT_EQ(GetParam().target.harness(bytes.data(), bytes.size()), "");
  if (GetParam().target.harness == Korva::Fuzz::FuzzCsv) {
    EXPECT_EQ(Korva::Fuzz::CompareCsvThreads(bytes.data(), bytes.size()), "");
  }
}

INSTANTIATE_TEST_SUITE_P(Fuzz,
                         KeptFuzzInput,
                         testing::ValuesIn(ListInputs()),
                         TestName);

// An empty or moved folder would make the replay above pass vacuously.
TEST(KeptFuzzInputs, EveryTargetHasSeeds) {
  for (const Target& target : kTargets) {
    const fs::path dir = fs::path(KORVA_FUZZ_DIR) / "corpus" / target.name;
    ASSERT_TRUE(fs::is_directory(dir)) << dir;
    EXPECT_GE(
        std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 5)
        << dir;
  }
}

}  // namespace
