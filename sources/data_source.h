#ifndef KORVA_SOURCES_DATA_SOURCE_H_
#define KORVA_SOURCES_DATA_SOURCE_H_

// What a user names as data, turned into a data set: a feature table (CSV,
// or MATLAB and its variables) or continuous recordings (the runs of a
// session, cut into epochs by a recipe) become rows, labels +1 and -1,
// groups and feature names, with the recipe as used; every input's digest
// is recorded as it is read (input_digest.h). korva's commands and the
// Python package read data through here, so both refuse the same things
// with the same messages. Errors: Data::DataError for the data, Error
// (source_error.h) for what does not go together.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "data/dataset.h"
#include "data/mat_file.h"
#include "epoching/recipe.h"
#include "recording/recording.h"
#include "sources/recordings.h"
#include "sources/speller_source.h"

namespace Korva::Sources {

// Where a data set comes from: a feature table, a CSV file ("-": standard
// input) or a MATLAB file and its variables, and how its labels are read; or
// one or more continuous recordings (the runs of a session) and how they are
// read and cut. Messages name the table settings as korva's options.
struct DataSource {
  std::vector<std::string> paths;  // one table, or recordings
  Data::MatVariables mat;
  std::optional<double> targetLabel;  // this label is +1, every other -1
  // A CSV column of group names; for recordings "recording" (or "run",
  // the default), or for the runs of BIDS folders "session" or "subject".
  std::string groups;
  std::vector<std::string> drop;      // columns left out: names or #N
  char delimiter = 0;                 // CSV field separator; 0: from the header
  Recording::OpenOptions open;        // how headset CSV recordings are read
  BidsFilter bids;                    // the runs of BIDS folders taken
  // The recipe that cuts recordings when it is given whole (a model's);
  // else RecipeSettings make it.
  std::optional<Epoching::Recipe> recipe;
  // The events of a session whose targets are not yet known: each gives an
  // epoch without label, in place of the recipe's two lists.
  std::vector<std::string> stimulusEvents;
  // A speller session: its flashes are the rows (speller_source.h).
  std::optional<SpellerRequest> speller;

  // The files as messages name them (NameFiles).
  std::string Name() const;
};

// The recipe settings of a request that does not give its recipe whole
// (korva's recipe options).
struct RecipeSettings {
  // The settings given, by name ("--band"): a feature table refuses them.
  std::vector<std::string> given;
  // The recipe they make, asked for only when the source is recordings,
  // after the source's own checks; its errors are its own.
  std::function<Epoching::Recipe()> make;
};

// Files as messages name them: "a.csv"; "r1.vhdr and r2.vhdr"; for more,
// "r1.vhdr ... r6.vhdr (6 files)".
std::string NameFiles(const std::vector<std::string>& paths);

// True when the paths of `source` are recordings (IsRecordingPath), false
// when they are a feature table; Error(kUsage) when they mix the two.
bool ReadsRecordings(const DataSource& source);

// The data set of `source`, with its labels +1 and -1.
//
// A feature table (MATLAB when its name ends in .mat, else CSV) has its
// columns to drop left out and its labels made +1 and -1 (Data::SetClasses);
// DataError when it cannot be read or its labels are not two classes,
// Error(kUsage) when MATLAB variables are named for a CSV file, when recipe
// or recording settings are given, or when several tables are.
//
// Recordings are cut by `source.recipe`, or else by the recipe `settings`
// make, and stacked in the order given; each epoch's group
// (kRecordingGroups) is its recording, or with `groups` "session" or
// "subject" its run's BIDS session (named "sub-01 ses-1") or subject
// ("sub-01"). Without `requireLabels`, recordings whose targets are not yet
// known are cut too, without labels. `cut` of the result holds the recipe
// as used and what happened to their events. DataError as Cut;
// Error(kUsage) for settings of tables, a recording given twice, no
// recipe, or groups that recordings (or runs outside BIDS folders) do not
// have.
//
// A speller session (`source.speller`) is read by CutSpeller or
// SpellerTable, and the result's `speller` holds its selections.
LoadedData LoadData(const DataSource& source,
                    bool requireLabels,
                    const RecipeSettings& settings = {});

// What a set that is about to train holds that its user should hear of.
struct TrainingSetCheck {
  std::vector<std::string> warnings;  // useless columns, one sentence each
  // Columns of whole numbers only (Data::CodeColumns): a label, marker or
  // group column left in when they alone tell the classes apart.
  std::vector<int> codeColumns;
};

// DataError naming `what` when `data` lacks rows of either class; else
// what Data::FindUselessColumns and Data::CodeColumns find.
TrainingSetCheck CheckTrainingSet(const Data::Dataset& data,
                                  const std::string& what);

// `data`'s columns in the order of `names` (the model's, or the calibration
// set's, called `owner` in messages): the same names in another order are
// matched by name, with a note in `notes` (may be null); other names are
// refused (DataError) unless `ignoreNames`. Sets without names on either
// side are taken by position.
Data::Dataset MatchColumns(Data::Dataset data,
                           const std::vector<std::string>& names,
                           const std::string& owner,
                           const std::string& what,
                           bool ignoreNames,
                           std::vector<std::string>* notes);

}  // namespace Korva::Sources

#endif  // KORVA_SOURCES_DATA_SOURCE_H_
