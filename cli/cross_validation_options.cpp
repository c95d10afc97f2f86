#include "cli/cross_validation_options.h"

#include <string>

#include "cli/exit_status.h"
#include "sources/recordings.h"
#include "validation/selection_folds.h"

namespace Korva::Cli {

void AddFoldOptions(CLI::App* command, FoldOptions& o, DataSource& data) {
  o.foldsOption =
      command
          ->add_option("--folds",
                       o.folds,
                       "number of folds (default " +
                           std::to_string(Validation::kDefaultFolds) + ")")
          ->check(CLI::Range(2, 1000));
  o.seedOption =
      command
          ->add_option("--seed",
                       o.seed,
                       "seed of the stratified fold split (default " +
                           std::to_string(Validation::kDefaultSeed) + ")")
          ->transform(kWholeNumber);
  command->add_flag("--blocks",
                    o.blocks,
                    "contiguous folds in file order instead of shuffled ones");
  AddTableOptions(command,
                  data,
                  "CSV column of group names (runs, sessions), not a "
                  "feature: each group stays in one fold, and without "
                  "--folds each group is a fold of its own (default: a "
                  "column named run, unless --seed or --blocks is given); "
                  "for recordings: recording (the default), or for the "
                  "runs of EEG-BIDS folders session or subject");
}

void CheckFoldOptions(const FoldOptions& o, const DataSource& data) {
  if (o.blocks && !data.groups.empty())
    throw CliError(kExitUsage,
                   "--blocks and --groups are two fold schemes: give one");
}

Validation::Scheme FoldScheme(const FoldOptions& o,
                              const DataSource& source,
                              const Dataset& data) {
  Validation::Scheme scheme;
  scheme.folds = o.FoldsGiven() ? o.folds : 0;
  scheme.seed = o.seed;
  scheme.shuffle = o.SeedGiven();
  scheme.blocks = o.blocks;
  scheme.groupsGiven = !source.groups.empty() ||
                       data.groupColumn == Validation::kSelectionGroups;
  scheme.recordings = data.groupColumn == Sources::kRecordingGroups;
  return scheme;
}

Validation::Grid MakeGrid(const GridOptions& options) {
  return Validation::MakeGrid(
      options.PEnter(), options.PRemove(), options.MaxIter());
}

}  // namespace Korva::Cli
