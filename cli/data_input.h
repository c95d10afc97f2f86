#ifndef KORVA_CLI_DATA_INPUT_H_
#define KORVA_CLI_DATA_INPUT_H_

// The data of a command: its options mapped onto the data-source layer
// (sources/), what the layer found said on the terminal, and the training
// of a data set.

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "cli/files.h"
#include "cli/recipe_options.h"
#include "cli/speller_options.h"
#include "data/dataset.h"
#include "epoching/recipe.h"
#include "korva/classifier_base.h"
#include "korva/hostkit/training.h"
#include "sources/data_source.h"

namespace Korva::Cli {

using Data::Dataset;
using Sources::NameFiles;
using Sources::ReadsRecordings;

// The data options of a command: the source as the layer takes it, and the
// recipe options that cut recordings when no recipe is given whole.
struct DataSource : Sources::DataSource {
  RecipeOptions recipeOptions;
  SpellerOptions spellerOptions;  // a speller session, unless `speller` is set
};

// The data set of `source` (Sources::LoadData, the recipe options making
// the recipe). What happened to the events of recordings goes to `info`
// (may be null), the recipe too when it came from the options; `used` (may
// be null) receives the recipe as used, its channels and sampling rate
// filled in. `files` (may be null), the command's files, receives the files
// the recordings read (AddRecordingFiles), which its outputs must not be. A
// speller session (`source.speller`, or else the speller options) is said by
// PrintSpeller, its targets required with the labels, and `speller` (may be
// null) receives its selections.
Dataset LoadData(const DataSource& source,
                 bool requireLabels,
                 std::ostream* info = nullptr,
                 std::optional<Epoching::Recipe>* used = nullptr,
                 std::vector<CommandFile>* files = nullptr,
                 std::optional<Speller::Session>* speller = nullptr);

// A set that is about to train: DataError without rows of both classes;
// warnings about useless columns and about columns of codes that alone
// separate the classes (a label, marker or group column left in).
void CheckTrainingSet(const Dataset& data, const std::string& what);

// Sources::MatchColumns, its note said on `info` (may be null).
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
