#include "cli/data_input.h"

#include <algorithm>
#include <ostream>

#include "cli/exit_status.h"
#include "cli/input_digest.h"
#include "cli/texts.h"
#include "data/csv_io.h"
#include "data/data_checks.h"

namespace Korva::Cli {
namespace {

// Why `names` (of a data set) cannot be put into the order of `wanted` (of
// `owner`, which has as many features): a list of names shorter or longer
// than the features, a name on one side only, or a name repeated.
std::string NameDifference(const std::vector<std::string>& wanted,
                           const std::vector<std::string>& names,
                           const std::string& owner) {
  if (wanted.size() != names.size())
    return ": " + owner + " holds " + std::to_string(wanted.size()) +
           " feature names for its " + std::to_string(names.size()) +
           " features";
  const auto missing = [](const std::vector<std::string>& from,
                          const std::vector<std::string>& in) {
    for (const std::string& name : from)
      if (std::find(in.begin(), in.end(), name) == in.end()) return name;
    return std::string();
  };
  const std::string lacks = missing(wanted, names);
  if (!lacks.empty())
    return ": it lacks \"" + lacks + "\" and has \"" + missing(names, wanted) +
           "\" instead";
  for (const auto* list : {&names, &wanted})
    for (auto at = list->begin(); at != list->end(); ++at)
      if (std::find(at + 1, list->end(), *at) != list->end())
        return ": \"" + *at + "\" is repeated in " +
               (list == &names ? std::string("the data") : owner);
  return "";
}

}  // namespace

Dataset LoadData(const DataSource& source, bool requireLabels) {
  if (!Data::IsMatFile(source.path) &&
      !(source.mat.x + source.mat.y + source.mat.names).empty())
    throw CliError(kExitUsage,
                   "--x, --y and --names name the variables of a MATLAB "
                   "file, and " +
                       source.path +
                       " is not one (a MATLAB file's name ends in .mat)");
  if (Data::IsMatFile(source.path) && !source.groups.empty())
    throw CliError(kExitUsage, "--groups names a column of a CSV file");
  Dataset data;
  InputDigest digest(source.path);
  if (Data::IsMatFile(source.path)) {
    data = Data::LoadMat(source.path, source.mat, requireLabels, digest.Sink());
  } else {
    Data::CsvOptions options;
    options.requireLabels = requireLabels;
    options.groupColumn = source.groups;
    options.onBytes = digest.Sink();
    data = Data::ReadCsv(source.path, options);
  }
  digest.Keep();
  if (source.targetLabel && data.hasLabels)
    Data::RecodeLabels(data, *source.targetLabel);
  else if (Data::LabelsAreZeroOne(data))
    throw Data::DataError(source.path +
                          ": the labels are 0 and 1; this classifier takes +1 "
                          "and -1: say which label is the target with "
                          "--target-label 1");
  return data;
}

void CheckTrainingSet(const Dataset& data, const std::string& what) {
  for (const std::string& warning : Data::LabelWarnings(data, what))
    Warn(warning);
  for (const std::string& warning :
       Data::DescribeUselessColumns(data, Data::FindUselessColumns(data)))
    Warn(what + ": " + warning);
}

Dataset MatchColumns(Dataset data,
                     const std::vector<std::string>& modelNames,
                     const std::string& model,
                     const std::string& what,
                     bool ignoreNames,
                     std::ostream* info) {
  const auto named = [](const std::vector<std::string>& names) {
    return std::any_of(names.begin(), names.end(), [](const std::string& n) {
      return !n.empty();
    });
  };
  if (!named(modelNames) || !named(data.names) || modelNames == data.names ||
      ignoreNames)
    return data;
  if (const auto order = Data::MatchNames(modelNames, data.names)) {
    if (info)
      *info << "note: the columns of " << what << " are in another order than "
            << model << "'s; they were matched by name\n";
    return Data::SelectColumns(data, *order);
  }
  throw CliError(kExitData,
                 "the feature names of " + what + " differ from " + model +
                     "'s" + NameDifference(modelNames, data.names, model) +
                     "; --ignore-names takes the columns by position");
}

HostKit::MatrixView View(const Dataset& data) {
  return {data.X.data(), data.rows, data.cols};
}

HostKit::TrainingRun TrainOn(ClassifierBase& classifier,
                             Dataset& data,
                             std::ostream* echo) {
  if (!data.hasLabels) throw Data::DataError("the training data has no labels");
  return HostKit::Train(
      classifier, data.X.Matrix(), data.labels.data(), data.names, echo);
}

}  // namespace Korva::Cli
