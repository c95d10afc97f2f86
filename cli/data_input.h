#ifndef KORVA_CLI_DATA_INPUT_H_
#define KORVA_CLI_DATA_INPUT_H_

// The data a command reads: where it comes from, how it is loaded and
// checked, and how its columns meet a model's.

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "cli/recipe_options.h"
#include "data/dataset.h"
#include "data/mat_file.h"
#include "korva/classifier_base.h"
#include "korva/hostkit/training.h"
#include "epoching/recipe.h"
#include "recording/recording.h"

namespace Korva::Cli {

using Data::Dataset;

// Where a data set comes from: a feature table, a CSV file ("-": standard
// input) or a MATLAB file and its variables, and how its labels are read; or
// one or more continuous recordings (the runs of a session) and the recipe
// that cuts them into epochs.
struct DataSource {
  std::vector<std::string> paths;  // one table, or recordings
  Data::MatVariables mat;
  std::optional<double> targetLabel;  // this label is +1, every other -1
  std::string groups;                 // a CSV column of group names
  std::vector<std::string> drop;      // columns left out: names or #N
  char delimiter = 0;                 // CSV field separator; 0: from the header
  Recording::OpenOptions open;        // how headset CSV recordings are read
  RecipeOptions recipeOptions;        // the recipe as the options give it
  std::optional<Epoching::Recipe>
      recipe;  // a recipe given instead (a model's)

  // The files as messages name them (NameFiles).
  std::string Name() const;
};

// Files as messages name them: "a.csv"; "r1.vhdr and r2.vhdr"; for more,
// "r1.vhdr ... r6.vhdr (6 files)".
std::string NameFiles(const std::vector<std::string>& paths);

// True when the paths of `source` are recordings (IsRecordingPath), false
// when they are a feature table; CliError(kExitUsage) when they mix the two.
bool ReadsRecordings(const DataSource& source);

// The data set of `source`, with its labels +1 and -1.
//
// A feature table (MATLAB when its name ends in .mat, else CSV) has its
// columns to drop left out and its labels made +1 and -1 (Data::SetClasses);
// DataError when it cannot be read or its labels are not two classes,
// CliError(kExitUsage) when MATLAB variables are named for a CSV file, when
// recipe or recording options are given, or when several tables are.
//
// Recordings are cut by `source.recipe`, or else by the recipe options, and
// stacked in the order given; each epoch's group (kRecordingGroups) is its
// recording. What happened to their events goes to `info` (may be null), the
// recipe too when it came from the options; `used` (may be null) receives
// the recipe as used, its channels and sampling rate filled in. DataError as
// Epoching::ExtractEpochs; CliError(kExitUsage) for options of tables, a
// recording given twice, or a recipe the options cannot give.
Dataset LoadData(const DataSource& source,
                 bool requireLabels,
                 std::ostream* info = nullptr,
                 std::optional<Epoching::Recipe>* used = nullptr);

// A set that is about to train: DataError without rows of both classes;
// warnings about useless columns and about columns of codes that alone
// separate the classes (a label, marker or group column left in).
void CheckTrainingSet(const Dataset& data, const std::string& what);

// `data`'s columns in the order of `names` (the model's, or the calibration
// set's, called `owner` in messages): the same names in another order are
// matched by name, with a note on `info`; other names are refused
// (CliError, kExitData) unless `ignoreNames`. Sets without names on either
// side are taken by position.
Dataset MatchColumns(Dataset data,
                     const std::vector<std::string>& names,
                     const std::string& owner,
                     const std::string& what,
                     bool ignoreNames,
                     std::ostream* info);

// The data set's matrix as the host kit takes it.
HostKit::MatrixView View(const Dataset& data);

// Trains on a labelled set in place (HostKit::Train, which leaves the values
// as they are); DataError when it has no labels.
HostKit::TrainingRun TrainOn(ClassifierBase& classifier,
                             Dataset& data,
                             std::ostream* echo);

}  // namespace Korva::Cli

#endif  // KORVA_CLI_DATA_INPUT_H_
