#include "cli/data_input.h"

#include <algorithm>
#include <ostream>

#include "cli/exit_status.h"
#include "cli/texts.h"
#include "data/csv_io.h"
#include "data/data_checks.h"

namespace Korva::Cli {

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
  if (Data::IsMatFile(source.path)) {
    data = Data::LoadMat(source.path, source.mat, requireLabels);
  } else {
    Data::CsvOptions options;
    options.requireLabels = requireLabels;
    options.groupColumn = source.groups;
    data = Data::ReadCsv(source.path, options);
  }
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
  // Name what is missing on each side when the names are two sets.
  const auto missing = [](const std::vector<std::string>& from,
                          const std::vector<std::string>& in) {
    for (const std::string& name : from)
      if (std::find(in.begin(), in.end(), name) == in.end()) return name;
    return std::string();
  };
  const std::string lacks = missing(modelNames, data.names),
                    extra = missing(data.names, modelNames);
  throw CliError(
      kExitData,
      "the feature names of " + what + " differ from " + model + "'s" +
          (lacks.empty() ? std::string(" (some are repeated)")
                         : ": it lacks \"" + lacks + "\" and has \"" + extra +
                               "\" instead") +
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
