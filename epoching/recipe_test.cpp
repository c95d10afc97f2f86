#include "epoching/recipe.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>

namespace Korva::Epoching {
namespace {

using ::testing::HasSubstr;

bool Same(const Recipe& a, const Recipe& b) {
  auto band = [](const std::optional<Band>& x) {
    return x ? std::pair{x->low, x->high} : std::pair{-1.0, -1.0};
  };
  auto interval = [](const std::optional<Interval>& x) {
    return x ? std::pair{x->startMs, x->endMs} : std::pair{-1.0, -1.0};
  };
  return a.targets == b.targets && a.nonTargets == b.nonTargets &&
         a.channels == b.channels && a.reference == b.reference &&
         band(a.band) == band(b.band) && a.filterOrder == b.filterOrder &&
         a.windowStartMs == b.windowStartMs && a.windowEndMs == b.windowEndMs &&
         a.bins == b.bins && interval(a.baseline) == interval(b.baseline) &&
         a.rejectMicrovolts == b.rejectMicrovolts &&
         a.resampleHz == b.resampleHz && a.samplingRate == b.samplingRate;
}

Recipe Made() {
  Recipe r;
  r.targets = {"S  2"};
  r.nonTargets = {"S  1", "Stimulus/S  3"};
  r.channels = {"Fz", "Cz"};
  r.samplingRate = 256;
  return r;
}

TEST(RecipeXml, WritesEveryAttributeAndTheLists) {
  const Recipe r = Made();
  EXPECT_EQ(RecipeXml(r),
            "<Recipe SamplingRate=\"256\" Reference=\"none\" Band=\"0.5,30\" "
            "FilterOrder=\"4\" Window=\"0,auto\" Bins=\"20\" "
            "Baseline=\"none\" Reject=\"none\">\n"
            "  <Target Event=\"S  2\" />\n"
            "  <NonTarget Event=\"S  1\" />\n"
            "  <NonTarget Event=\"Stimulus/S  3\" />\n"
            "  <Channel Name=\"Fz\" />\n"
            "  <Channel Name=\"Cz\" />\n"
            "</Recipe>\n");
  EXPECT_THAT(
      RecipeText(r),
      HasSubstr("window: 0 to 781.25 ms (200 samples from 0), 20 bins of "
                "10 samples"));
}

TEST(RecipeXml, ReadsBackExactly) {
  Recipe full = Made();
  full.targets = {"a \"quoted\" <&> code", "S\t7"};
  full.channels = {"EEG Fz-Ref", "P,z"};
  full.reference = Reference::kAverage;
  full.band = Band{0.1, 1.0 / 3 * 100};
  full.filterOrder = 8;
  full.windowStartMs = -100.0 / 3;
  full.windowEndMs = 800.0000000000001;
  full.bins = 1000;
  full.baseline = Interval{-1e-300, 0.1};
  full.rejectMicrovolts = 123.456789012345678;
  full.samplingRate = 1000.0 / 7;
  full.resampleHz = full.samplingRate;
  Recipe bare = Made();
  bare.band.reset();
  bare.samplingRate = 0;
  bare.channels.clear();
  for (const Recipe& r : {Made(), full, bare}) {
    const Recipe back = ParseRecipeXml(RecipeXml(r));
    EXPECT_TRUE(Same(back, r)) << RecipeXml(r) << "read back as\n"
                               << RecipeXml(back);
  }
}

// A damaged attribute, and what the message must say.
struct Damage {
  const char* from;  // a regular expression on the written recipe
  const char* to;
  const char* message;
};

class RecipeXmlRefuses : public ::testing::TestWithParam<Damage> {};

TEST_P(RecipeXmlRefuses, NamingTheAttribute) {
  const Damage& d = GetParam();
  const std::string xml =
      std::regex_replace(RecipeXml(Made()),
                         std::regex(d.from),
                         d.to,
                         std::regex_constants::format_first_only);
  try {
    ParseRecipeXml(xml);
    FAIL() << "accepted " << xml;
  } catch (const Data::DataError& error) {
    EXPECT_THAT(error.what(), HasSubstr(d.message));
  }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Recipe, RecipeXmlRefuses,
    ::testing::Values(
        Damage{"Band=\"[^\"]*\"", "Band=\"0.5\"", "attribute Band=\"0.5\" is not LOW,HIGH in Hz or none"},
        Damage{"Band=\"[^\"]*\"", "Band=\"30,0.5\"", "recipe: band 30-0.5 Hz: it needs 0 < LOW < HIGH"},
        Damage{"Window=\"[^\"]*\"", "Window=\"0,x\"", "attribute Window=\"0,x\" is not START,END"},
        Damage{"Bins=\"20\"", "Bins=\"2.5\"", "attribute Bins=\"2.5\" is not a whole number"},
        Damage{"FilterOrder=\"4\"", "FilterOrder=\"9\"", "recipe: filter order 9: it must be 1 to 8"},
        Damage{"Reference=\"none\"", "Reference=\"left\"", "attribute Reference=\"left\" is not none or average"},
        Damage{"Reject=\"none\"", "Reject=\"1e999\"", "attribute Reject=\"1e999\" is not a limit"},
        Damage{"Baseline=\"none\"", "Baseline=\"0,-100\"", "recipe: baseline 0 to -100 ms: it needs START < END"},
        Damage{"SamplingRate=\"256\" ", "", "the attribute SamplingRate is missing"},
        Damage{"Reject=\"none\"", "Reject=\"none\" Resample=\"250\"", "recipe: sampling rate 256 Hz differs from the rate resampled to, 250 Hz"},
        Damage{"Reject=\"none\"", "Reject=\"none\" Resample=\"0x100\"", "attribute Resample=\"0x100\" is not a sampling rate in Hz"},
        Damage{"Event=\"S  2\"", "Code=\"S  2\"", "a Target element has no attribute Event"},
        Damage{"<Target[^>]*>", "", "the target event list is empty"},
        Damage{"</Recipe>", "", "recipe: not XML"},
        Damage{"<Recipe ([\\s\\S]*)</Recipe>", "<Recipes $1</Recipes>", "recipe: no Recipe element"}));
// clang-format on

}  // namespace
}  // namespace Korva::Epoching
