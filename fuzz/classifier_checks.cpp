#include "fuzz/checks.h"

namespace Korva::Fuzz {

std::string ExerciseClassifier(ProbeDozod& dozod) {
  const std::vector<bool> flags = dozod.Flags();
  if (dozod.CanClassify() !=
      (std::find(flags.begin(), flags.end(), true) != flags.end()))
    return "CanClassify disagrees with the flags";
  std::ostringstream reports;
  dozod.GetShortInfo(reports);
  dozod.GetTrainingInfo(reports);
  dozod.GetInfo(reports);

  NEWMAT::RowVector x(dozod.GetWeights().Nrows());
  x = 1.0;
  ScoreList scores = {{"x", dozod.GetScore(x)}, {"nan", NAN}, {"one", 1.0}};
  if (dozod.SortScoresFirstBest(scores) != kStatusOk)
    return "SortScoresFirstBest failed";
  x.ReSize(x.Ncols() + 1);
  x = 0.0;
  if (dozod.GetScore(x) != -1.0)
    return "a vector of the wrong length does not score -1";

  pugi::xml_document written;
  if (int status = dozod.Write(written); status != kStatusOk)
    return "Write returned " + std::to_string(status);
  std::ostringstream text;
  written.save(text);
  pugi::xml_document parsed;
  ProbeDozod restored;
  if (!parsed.load_string(text.str().c_str()) ||
      restored.Read(parsed) != kStatusOk)
    return "a written document does not read back";
  if (restored.Flags() != flags || restored.WeightList().size() != flags.size())
    return "the flags change in a write-read round trip, or the weight count";
  return {};
}

}  // namespace Korva::Fuzz
