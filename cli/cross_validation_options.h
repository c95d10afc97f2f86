#ifndef KORVA_CLI_CROSS_VALIDATION_OPTIONS_H_
#define KORVA_CLI_CROSS_VALIDATION_OPTIONS_H_

// The options of the commands that cross-validate (evaluate, tune), and the
// fold scheme and grid they describe for the engine (validation/).

#include <CLI/CLI.hpp>
#include <cstdint>

#include "cli/data_input.h"
#include "cli/options.h"
#include "validation/fold_plan.h"
#include "validation/grid.h"

namespace Korva::Cli {

// --folds, --seed and --blocks as given; --groups is the data source's.
struct FoldOptions {
  int folds = Validation::kDefaultFolds;
  std::uint64_t seed = Validation::kDefaultSeed;
  bool blocks = false;
  CLI::Option* foldsOption = nullptr;
  CLI::Option* seedOption = nullptr;
  bool FoldsGiven() const { return foldsOption && foldsOption->count(); }
  bool SeedGiven() const { return seedOption && seedOption->count(); }
};

// --folds, --seed, --blocks and the table options with --groups as a fold
// scheme, on a command that cross-validates `data`.
void AddFoldOptions(CLI::App* command, FoldOptions& folds, DataSource& data);

// CliError(kExitUsage) when --blocks and --groups are both given.
void CheckFoldOptions(const FoldOptions& folds, const DataSource& data);

// The scheme the options describe for `data`, read from `source`: by its
// groups (given with --groups, or a column named run unless --seed asks for
// shuffled folds; each group a fold without --folds, one recording alone
// none), in blocks with --blocks, else stratified with the seed.
Validation::Scheme FoldScheme(const FoldOptions& folds,
                              const DataSource& source,
                              const Dataset& data);

// The grid of the lists given (Validation::MakeGrid, which names the
// options in its refusals).
Validation::Grid MakeGrid(const GridOptions& options);

}  // namespace Korva::Cli

#endif  // KORVA_CLI_CROSS_VALIDATION_OPTIONS_H_
