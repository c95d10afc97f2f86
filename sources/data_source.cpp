#include "sources/data_source.h"

#include <algorithm>

#include "data/csv_io.h"
#include "data/data_checks.h"
#include "sources/input_digest.h"
#include "sources/source_error.h"

namespace Korva::Sources {
namespace {

using Data::Dataset;

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

// The settings of a feature table alone that `source` holds, by name
// (--groups also groups recordings).
std::vector<std::string> TableOptionsGiven(const DataSource& source) {
  std::vector<std::string> given;
  for (const auto& [name, set] :
       {std::pair{"--drop", !source.drop.empty()},
        {"--delimiter", source.delimiter != 0},
        {"--target-label", source.targetLabel.has_value()},
        {"--x, --y, --names",
         !(source.mat.x + source.mat.y + source.mat.names).empty()}})
    if (set) given.emplace_back(name);
  return given;
}

// Each epoch of `cut` grouped by its recording (`by` "", "recording" or
// "run"), or by its run's BIDS "session" or "subject"; Error(kUsage) for a
// session or subject of a recording outside a BIDS folder.
void GroupRuns(LoadedData& cut, const std::string& by) {
  Data::Dataset& data = cut.data;
  const std::vector<Epoching::RunReport>& runs = cut.cut->runs;
  std::vector<std::string> names;  // of each run's group
  for (size_t k = 0; k < runs.size(); ++k) {
    const RunOrigin& origin = cut.origins[k];
    if (by.empty() || by == "recording" || by == "run") {
      names.push_back(runs[k].path);
    } else if (origin.subject.empty()) {
      throw Error(ErrorKind::kUsage,
                  "--groups " + by + " groups the runs of EEG-BIDS folders, "
                  "and " + runs[k].path + " is none");
    } else {
      names.push_back("sub-" + origin.subject +
                      (by == "session" && !origin.session.empty()
                           ? " ses-" + origin.session
                           : ""));
    }
  }
  const bool recordings = by.empty() || by == "recording" || by == "run";
  data.groupColumn = recordings ? kRecordingGroups : by;
  data.groupNames.clear();
  std::vector<int> index(runs.size());
  for (size_t k = 0; k < runs.size(); ++k) {
    const auto at =
        std::find(data.groupNames.begin(), data.groupNames.end(), names[k]);
    index[k] = static_cast<int>(at - data.groupNames.begin());
    if (at == data.groupNames.end()) data.groupNames.push_back(names[k]);
  }
  for (int& group : data.groups) group = index[group];
}

// Recordings cut into epochs, each grouped by its recording; without
// `requireLabels` also those whose targets are not yet known.
LoadedData LoadRecordings(const DataSource& source,
                          const RecipeSettings& settings,
                          bool requireLabels) {
  if (const auto given = TableOptionsGiven(source); !given.empty())
    throw Error(
        ErrorKind::kUsage,
        Listed(given) + (given.size() > 1 ? " read" : " reads") +
            " feature tables, and " + source.Name() +
            (source.paths.size() == 1 ? " is a recording" : " are recordings") +
            ": their epochs are labelled by the recipe's event lists "
            "and grouped by recording");
  for (auto at = source.paths.begin(); at != source.paths.end(); ++at)
    if (std::find(at + 1, source.paths.end(), *at) != source.paths.end())
      throw Error(ErrorKind::kUsage, *at + " is given twice");
  if (const std::string& by = source.groups;
      !by.empty() && by != "recording" && by != "run" && by != "session" &&
      by != "subject")
    throw Error(ErrorKind::kUsage,
                "--groups " + by +
                    ": recordings are grouped by recording (or run), and the "
                    "runs of EEG-BIDS folders also by session or subject");
  if (!source.recipe && !settings.make)
    throw Error(ErrorKind::kUsage,
                "no recipe to cut the recordings " + source.Name() + " with");
  Epoching::Recipe recipe = source.recipe ? *source.recipe : settings.make();
  if (!source.stimulusEvents.empty()) {
    recipe.targets.clear();
    recipe.nonTargets = source.stimulusEvents;
    requireLabels = false;
  }
  LoadedData cut = source.speller ? CutSpeller(source, recipe, *source.speller)
                                  : Cut(source.paths,
                                        recipe,
                                        source.open,
                                        source.bids,
                                        requireLabels);
  GroupRuns(cut, source.groups);
  return cut;
}

// The settings a recording needs and a table refuses.
void RefuseRecordingOptions(const DataSource& source,
                            const RecipeSettings& settings) {
  std::vector<std::string> given = settings.given;
  if (!source.open.markerColumn.empty()) given.emplace_back("--marker-column");
  if (source.open.samplingRate) given.emplace_back("--sampling-rate");
  if (!source.open.eegStream.empty()) given.emplace_back("--xdf-eeg");
  if (!source.open.markerStream.empty()) given.emplace_back("--xdf-markers");
  if (!source.bids.Empty())
    given.emplace_back("--subject, --session, --task, --run");
  if (!source.stimulusEvents.empty()) given.emplace_back("--stimulus-events");
  if (!given.empty())
    throw Error(ErrorKind::kUsage,
                Listed(given) + (given.size() > 1 ? " cut" : " cuts") +
                    " recordings into epochs, and " + source.Name() +
                    " is a feature table");
}

// The one feature table of `source`: its settings checked, then read.
Dataset LoadTable(const DataSource& source, bool requireLabels) {
  if (source.paths.size() != 1)
    throw Error(ErrorKind::kUsage,
                "several feature tables (" + Listed(source.paths) +
                    "): give one table (korva epochs writes the epochs of "
                    "several recordings into one, with a run column), or "
                    "the recordings themselves");
  const std::string& path = source.paths.front();
  const bool mat = Data::IsMatFile(path);
  if (!mat && !(source.mat.x + source.mat.y + source.mat.names).empty())
    throw Error(ErrorKind::kUsage,
                "--x, --y and --names name the variables of a MATLAB "
                "file, and " +
                    path + " is not one (a MATLAB file's name ends in .mat)");
  if (mat && (!source.groups.empty() || source.delimiter != 0))
    throw Error(ErrorKind::kUsage,
                "--groups and --delimiter are for CSV files, and " + path +
                    " is a MATLAB file");
  InputDigest digest(path);
  Dataset data;
  if (mat) {
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
    throw Error(ErrorKind::kUsage,
                "the data mix recordings (" + Listed(recordings) +
                    ") and feature tables (" + Listed(tables) +
                    "): give the one kind or the other");
  return !recordings.empty();
}

LoadedData LoadData(const DataSource& source,
                    bool requireLabels,
                    const RecipeSettings& settings) {
  if (ReadsRecordings(source))
    return LoadRecordings(source, settings, requireLabels);
  RefuseRecordingOptions(source, settings);
  if (source.speller)
    return SpellerTable(
        LoadTable(source, false), source.Name(), *source.speller);
  LoadedData loaded;
  loaded.data = LoadTable(source, requireLabels);
  return loaded;
}

TrainingSetCheck CheckTrainingSet(const Dataset& data,
                                  const std::string& what) {
  const Data::LabelCounts counts = Data::CountLabels(data);
  if (counts.positive == 0 || counts.negative == 0)
    throw Data::DataError(
        what + ": only one class (" + std::to_string(counts.positive) +
        " rows labelled +1, " + std::to_string(counts.negative) +
        " labelled -1); training needs rows of both");
  return {Data::DescribeUselessColumns(data, Data::FindUselessColumns(data)),
          Data::CodeColumns(data)};
}

Dataset MatchColumns(Dataset data,
                     const std::vector<std::string>& modelNames,
                     const std::string& model,
                     const std::string& what,
                     bool ignoreNames,
                     std::vector<std::string>* notes) {
  const auto named = [](const std::vector<std::string>& names) {
    return std::any_of(names.begin(), names.end(), [](const std::string& n) {
      return !n.empty();
    });
  };
  if (!named(modelNames) || !named(data.names) || modelNames == data.names ||
      ignoreNames)
    return data;
  if (const auto order = Data::MatchNames(modelNames, data.names)) {
    if (notes)
      notes->push_back("the columns of " + what +
                       " are in another order than " + model +
                       "'s; they were matched by name");
    return Data::SelectColumns(data, *order);
  }
  throw Data::DataError("the feature names of " + what + " differ from " +
                        model + "'s" +
                        NameDifference(modelNames, data.names, model) +
                        "; --ignore-names takes the columns by position");
}

}  // namespace Korva::Sources
