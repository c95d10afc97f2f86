#include "cli/data_input.h"

#include <algorithm>
#include <fstream>
#include <ostream>

#include "cli/exit_status.h"
#include "cli/input_digest.h"
#include "cli/recording_input.h"
#include "cli/texts.h"
#include "data/csv_io.h"
#include "data/data_checks.h"
#include "report/metrics.h"

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

// Above this AUC a column of codes separates the classes too well to be a
// measurement.
constexpr double kCodeColumnAuc = 0.99;

// `data` without the features `source` drops, named or as #N (the N-th
// feature); for data sets whose reader cannot leave them out.
Dataset DropFeatures(Dataset data, const DataSource& source) {
  const std::string& path = source.paths.front();
  if (source.drop.empty()) return data;
  std::vector<bool> keep(data.cols, true);
  for (const std::string& name : source.drop) {
    const auto at = std::find(data.names.begin(), data.names.end(), name);
    int c =
        at != data.names.end() ? static_cast<int>(at - data.names.begin()) : -1;
    if (c < 0 && name.size() > 1 && name[0] == '#' &&
        name.find_first_not_of("0123456789", 1) == std::string::npos &&
        name.size() < 9)
      c = std::stoi(name.substr(1)) - 1;
    if (c < 0 || c >= data.cols)
      throw Data::DataError(path + ": no feature \"" + name +
                            "\" to drop (a name, or #N for the N-th feature)");
    keep[c] = false;
  }
  std::vector<int> order;
  for (int c = 0; c < data.cols; ++c)
    if (keep[c]) order.push_back(c);
  if (order.empty()) throw Data::DataError(path + ": --drop leaves no feature");
  return Data::SelectColumns(data, order);
}

// "a, b and c".
std::string Listed(const std::vector<std::string>& items) {
  std::string text;
  for (size_t i = 0; i < items.size(); ++i)
    text += (i == 0 ? "" : i + 1 == items.size() ? " and " : ", ") + items[i];
  return text;
}

// The options of a feature table that `source` holds, by name.
std::vector<std::string> TableOptionsGiven(const DataSource& source) {
  std::vector<std::string> given;
  for (const auto& [name, set] :
       {std::pair{"--groups", !source.groups.empty()},
        {"--drop", !source.drop.empty()},
        {"--delimiter", source.delimiter != 0},
        {"--target-label", source.targetLabel.has_value()},
        {"--x, --y, --names",
         !(source.mat.x + source.mat.y + source.mat.names).empty()}})
    if (set) given.emplace_back(name);
  return given;
}

// Records the digest of a recording when digests are recorded. The readers
// take a recording a channel at a time, from all over the file, so the
// digest reads it once more from start to end.
void HashRecording(const std::string& path) {
  InputDigest digest(path);
  const Data::ByteSink sink = digest.Sink();
  if (!sink) return;
  std::ifstream in(path, std::ios::binary);
  std::vector<char> block(1 << 20);
  while (in.read(block.data(), block.size()) || in.gcount() > 0)
    sink(std::string_view(block.data(), in.gcount()));
  if (!in.bad()) digest.Keep();
}

// Recordings cut into epochs, each grouped by its recording.
Dataset LoadRecordings(const DataSource& source,
                       std::ostream* info,
                       std::optional<Epoching::Recipe>* used) {
  if (const auto given = TableOptionsGiven(source); !given.empty())
    throw CliError(
        kExitUsage,
        Listed(given) + (given.size() > 1 ? " read" : " reads") +
            " feature tables, and " + source.Name() +
            (source.paths.size() == 1 ? " is a recording" : " are recordings") +
            ": their epochs are labelled by the recipe's event lists "
            "and grouped by recording");
  for (auto at = source.paths.begin(); at != source.paths.end(); ++at)
    if (std::find(at + 1, source.paths.end(), *at) != source.paths.end())
      throw CliError(kExitUsage, *at + " is given twice");
  for (const std::string& path : source.paths) HashRecording(path);
  const Epoching::Recipe recipe =
      source.recipe ? *source.recipe : source.recipeOptions.Recipe();
  CutRecordings cut = Cut(source.paths, recipe, source.open);
  if (info) PrintCut(*info, cut, !source.recipe);
  if (used) *used = cut.report.recipe;
  cut.data.groupColumn = kRecordingGroups;
  cut.data.groupNames = source.paths;
  return std::move(cut.data);
}

// The table options a recording needs and a table refuses.
void RefuseRecordingOptions(const DataSource& source) {
  std::vector<std::string> given = source.recipeOptions.Given();
  if (!source.open.markerColumn.empty()) given.emplace_back("--marker-column");
  if (source.open.samplingRate) given.emplace_back("--sampling-rate");
  if (!given.empty())
    throw CliError(kExitUsage,
                   Listed(given) + (given.size() > 1 ? " cut" : " cuts") +
                       " recordings into epochs, and " + source.Name() +
                       " is a feature table");
}

}  // namespace

std::string NameFiles(const std::vector<std::string>& paths) {
  if (paths.size() <= 2) return Listed(paths);
  return paths.front() + " ... " + paths.back() + " (" +
         std::to_string(paths.size()) + " files)";
}

std::string DataSource::Name() const { return NameFiles(paths); }

bool ReadsRecordings(const DataSource& source) {
  std::vector<std::string> recordings, tables;
  for (const std::string& path : source.paths)
    (IsRecordingPath(path, source.open) ? recordings : tables).push_back(path);
  if (!recordings.empty() && !tables.empty())
    throw CliError(kExitUsage,
                   "the data mix recordings (" + Listed(recordings) +
                       ") and feature tables (" + Listed(tables) +
                       "): give the one kind or the other");
  return !recordings.empty();
}

Dataset LoadData(const DataSource& source,
                 bool requireLabels,
                 std::ostream* info,
                 std::optional<Epoching::Recipe>* used) {
  if (ReadsRecordings(source)) return LoadRecordings(source, info, used);
  RefuseRecordingOptions(source);
  if (source.paths.size() != 1)
    throw CliError(kExitUsage,
                   "several feature tables (" + Listed(source.paths) +
                       "): give one table (korva epochs writes the epochs of "
                       "several recordings into one, with a run column), or "
                       "the recordings themselves");
  const std::string& path = source.paths.front();
  if (!Data::IsMatFile(path) &&
      !(source.mat.x + source.mat.y + source.mat.names).empty())
    throw CliError(kExitUsage,
                   "--x, --y and --names name the variables of a MATLAB "
                   "file, and " +
                       path +
                       " is not one (a MATLAB file's name ends in .mat)");
  if (Data::IsMatFile(path) &&
      (!source.groups.empty() || source.delimiter != 0))
    throw CliError(kExitUsage,
                   "--groups and --delimiter are for CSV files, and " + path +
                       " is a MATLAB file");
  Dataset data;
  InputDigest digest(path);
  if (Data::IsMatFile(path)) {
    data = Data::LoadMat(path, source.mat, requireLabels, digest.Sink());
    data = DropFeatures(std::move(data), source);
  } else {
    Data::CsvOptions options;
    options.requireLabels = requireLabels;
    options.groupColumn = source.groups;
    options.drop = source.drop;
    options.delimiter = source.delimiter;
    options.onBytes = digest.Sink();
    data = Data::ReadCsv(path, options);
  }
  digest.Keep();
  Data::SetClasses(
      data, source.targetLabel, path == "-" ? "standard input" : path);
  return data;
}

void CheckTrainingSet(const Dataset& data, const std::string& what) {
  const Data::LabelCounts counts = Data::CountLabels(data);
  if (counts.positive == 0 || counts.negative == 0)
    throw Data::DataError(
        what + ": only one class (" + std::to_string(counts.positive) +
        " rows labelled +1, " + std::to_string(counts.negative) +
        " labelled -1); training needs rows of both");
  for (const std::string& warning :
       Data::DescribeUselessColumns(data, Data::FindUselessColumns(data)))
    Warn(what + ": " + warning);
  for (int c : Data::CodeColumns(data)) {
    std::vector<double> column(data.rows);
    for (int r = 0; r < data.rows; ++r) column[r] = data.At(r, c);
    const double auc = Report::Auc(column, data.labels);
    if (std::max(auc, 1.0 - auc) > kCodeColumnAuc)
      Warn(what + ": " + Data::FeatureLabel(data, c) +
           " holds only whole numbers and alone tells the classes apart "
           "(AUC " +
           Fixed(auc, 3) +
           "): it looks like a label, marker or group column, not a "
           "measurement; leave it out with --drop " +
           (c < static_cast<int>(data.names.size()) && !data.names[c].empty()
                ? data.names[c]
                : std::string("'#N'")));
  }
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
