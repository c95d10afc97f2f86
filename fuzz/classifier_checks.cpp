#include "fuzz/classifier_checks.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <locale>
#include <pugixml.hpp>
#include <sstream>

#include "korva/classifier_base.h"

namespace Korva::Fuzz {

bool SameDouble(double a, double b) {
  return (std::isnan(a) && std::isnan(b)) || a == b;
}

std::string CheckLengthsAgree(const ProbeDozod& dozod) {
  const std::uint64_t count = dozod.Flags().size();
  const std::uint64_t weights = dozod.WeightList().size();
  if (count == weights) return {};
  return "flag count " + std::to_string(count) + " but " +
         std::to_string(weights) + " weights";
}

namespace {

// What a weight becomes after it is saved with six significant digits and
// read back, computed here with a stream of its own.
bool SavedWeight(double w, double& restored) {
  std::ostringstream out;
  out.imbue(std::locale::classic());
  out << w;
  std::istringstream in(out.str());
  in.imbue(std::locale::classic());
  return static_cast<bool>(in >> restored);
}

std::string CheckSortedScores(ProbeDozod& dozod, double score) {
  const double kNaN = std::numeric_limits<double>::quiet_NaN();
  ScoreList scores = {{"a", kNaN}, {"b", score}, {"c", -1.0}, {"d", 3.5}};
  if (dozod.SortScoresFirstBest(scores) != kStatusOk)
    return "SortScoresFirstBest failed";
  if (scores.size() != 4) return "SortScoresFirstBest changed the list size";
  if (!std::isnan(scores.back().second))
    return "SortScoresFirstBest did not put the NaN score last";
  double previous = std::numeric_limits<double>::infinity();
  int seen = 0;
  for (const auto& [name, s] : scores) {
    if (++seen == 4) break;
    if (std::isnan(s)) continue;  // the classifier's own score may be NaN
    if (s > previous) return "SortScoresFirstBest left scores unordered";
    previous = s;
  }
  return {};
}

// Write, save as text, parse, Read into a fresh object, compare.
std::string CheckRoundTrip(ProbeDozod& dozod) {
  pugi::xml_document written;
  if (int status = dozod.Write(written); status != kStatusOk)
    return "Write returned " + std::to_string(status);
  std::ostringstream text;
  written.save(text);
  pugi::xml_document parsed;
  if (!parsed.load_string(text.str().c_str()))
    return "a written document does not parse";
  ProbeDozod restored;
  if (int status = restored.Read(parsed); status != kStatusOk)
    return "a written document reads back with status " +
           std::to_string(status);

  if (restored.Flags() != dozod.Flags())
    return "the flags change in a write-read round trip";
  if (!SameDouble(restored.GetPEnter(), dozod.GetPEnter()) ||
      !SameDouble(restored.GetPRemove(), dozod.GetPRemove()) ||
      restored.GetMaxIter() != dozod.GetMaxIter())
    return "the configuration changes in a write-read round trip";
  if (!SameDouble(restored.GetThreshold(), dozod.GetThreshold()) ||
      restored.GetThresholdMode() != dozod.GetThresholdMode())
    return "the threshold changes in a write-read round trip";
  if (std::string lengths = CheckLengthsAgree(restored); !lengths.empty())
    return "after a round trip: " + lengths;

  // Weights are saved with six digits; compare while they can be read back
  // (a "nan" or "inf" text ends the weights that are read, by design).
  const std::vector<double> before = dozod.WeightList();
  const std::vector<double> after = restored.WeightList();
  const size_t shared = std::min(before.size(), after.size());
  for (size_t i = 0; i < shared; ++i) {
    double expected = 0.0;
    if (!SavedWeight(before[i], expected)) break;
    if (!SameDouble(after[i], expected))
      return "weight " + std::to_string(i) + " reads back as " +
             std::to_string(after[i]) + ", not " + std::to_string(expected);
  }
  if (restored.FeatureNames.size() != dozod.FeatureNames.size())
    return "the number of feature names changes in a round trip";
  return {};
}

}  // namespace

std::string ExerciseClassifier(ProbeDozod& dozod) {
  const std::vector<bool> flags = dozod.Flags();
  bool anySelected = false;
  for (bool f : flags) anySelected = anySelected || f;
  if (dozod.CanClassify() != anySelected)
    return "CanClassify disagrees with the flags";

  std::ostringstream shortInfo, trainingInfo, info;
  dozod.GetShortInfo(shortInfo);
  dozod.GetTrainingInfo(trainingInfo);
  dozod.GetInfo(info);
  if (shortInfo.str().empty() || trainingInfo.str().empty() ||
      info.str().empty())
    return "a report is empty";

  const int n = dozod.GetWeights().Nrows();
  NEWMAT::RowVector ones(n);
  ones = 1.0;
  const double score = dozod.GetScore(ones);
  NEWMAT::RowVector tooLong(n + 1);
  tooLong = 0.0;
  if (dozod.GetScore(tooLong) != -1.0)
    return "a vector of the wrong length does not score -1";
  if (std::string sorted = CheckSortedScores(dozod, score); !sorted.empty())
    return sorted;

  if (dozod.SaveToFile("/dev/null") != kStatusOk)
    return "SaveToFile to /dev/null failed";
  return CheckRoundTrip(dozod);
}

}  // namespace Korva::Fuzz
