#ifndef KORVA_CLI_COMMON_H_
#define KORVA_CLI_COMMON_H_

// What several korva commands share: options, data loading, the texts they
// print, and the classifier runs on a Dataset.

#include <CLI/CLI.hpp>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "data/dataset.h"
#include "data/mat_file.h"
#include "korva/classifier_base.h"
#include "korva/hostkit/selection.h"
#include "korva/hostkit/settings.h"
#include "korva/hostkit/training.h"
#include "report/html_report.h"
#include "report/metrics.h"

namespace Korva::Cli {

using Data::Dataset;

constexpr const char* kInterceptNote =
    "A restored classifier has no intercept: the saved model does not carry "
    "the bias W0, so every score is shifted by the same constant. The ranking "
    "of the scores and the AUC are unchanged.";

// Prints "korva: warning: TEXT" on standard error.
void Warn(const std::string& text);

// `value` with `digits` decimals, "n/a" for NaN.
std::string Fixed(double value, int digits);

// A training time: milliseconds below a second, else seconds.
std::string Duration(double seconds);

// Where a data set comes from: a CSV file ("-": standard input), or a
// MATLAB file and its variables; and how its labels are read.
struct DataSource {
  std::string path;
  Data::MatVariables mat;
  std::optional<double> targetLabel;  // this label is +1, every other -1
  std::string groups;                 // a CSV column of group numbers
};

// --x, --y and --names, the variables of a MATLAB data file.
void AddMatOptions(CLI::App* command, DataSource& source);

// Accepts whole numbers from 0 to 2^64 - 1 (a seed), written with decimal
// digits only, and drops leading zeros; add it with transform(), so that the
// option reads the number in decimal.
extern const CLI::Validator kWholeNumber;

// --target-label, the label value of the target class.
void AddLabelOption(CLI::App* command, DataSource& source);

// --quiet: nothing on standard output but the outputs asked for there.
void AddQuietOption(CLI::App* command, bool& quiet);

// Where a command's messages go: nowhere when quiet, standard error when an
// output is written to standard output ("-", /dev/stdout, ...), else
// standard output.
std::ostream* MessageStream(bool quiet,
                            const std::vector<std::string>& outputs);

// --module, the classifier module to load.
void AddModuleOption(CLI::App* command, std::string& module);

// One of a command's files: what names it ("--model") and its path ("" when
// not given); outputs must not be any other file of the command.
struct CommandFile {
  const char* role;
  std::string path;
  bool output;
};

// CliError(kExitUsage) when two outputs go to the same descriptor
// (CheckOneOutputPerStream), or when two of the files, one of them an output
// to a file, are the same file: the same device and inode where it exists,
// the same resolved path otherwise.
void CheckDistinctFiles(const std::vector<CommandFile>& files);

// The data set of `source` (MATLAB when its name ends in .mat, else CSV);
// DataError when it cannot be read, CliError(kExitUsage) when MATLAB
// variables are named for a CSV file.
Dataset LoadData(const DataSource& source, bool requireLabels);

// "accuracy A, balanced accuracy B (TP, FN, FP, TN; majority baseline M)".
std::string MetricsText(const Report::Confusion& c);

// Warns when the accuracy of `what` is within a point of always answering
// the larger class.
void WarnNearBaseline(const Report::Confusion& c, const std::string& what);

// Warns about labels and useless columns of a set that is about to train.
void CheckTrainingSet(const Dataset& data, const std::string& what);

// "N rows (P labelled +1, M labelled -1[, O other]), F features".
std::string DescribeSet(const Dataset& data);

// The classifier's short report without its trailing blanks.
std::string ShortInfo(ClassifierBase& classifier);

// --p-enter, --p-remove and --max-iter; Get() holds only those given.
class ParameterOptions {
 public:
  // `customary`: the help names the demo's 0.10 / 0.15 as the defaults
  // instead of the module's.
  void Add(CLI::App* command, bool customary);
  HostKit::SettingsChange Get() const;

 private:
  double pEnter_ = 0.0, pRemove_ = 0.0;
  int maxIter_ = 0;
  CLI::Option* pEnterOption_ = nullptr;
  CLI::Option* pRemoveOption_ = nullptr;
  CLI::Option* maxIterOption_ = nullptr;
};

// The data set's matrix as the host kit takes it.
HostKit::MatrixView View(const Dataset& data);

// Trains on a labelled set in place (HostKit::Train, which leaves the values
// as they are); DataError when it has no labels.
HostKit::TrainingRun TrainOn(ClassifierBase& classifier,
                             Dataset& data,
                             std::ostream* echo);

// One score per row of `data`.
std::vector<double> ScoreSet(ClassifierBase& classifier, const Dataset& data);

// The score CSV: "row,label,score" (without label when the data has none),
// one row of `data` per line, numbers in full precision.
std::string ScoresCsv(const Dataset& data, const std::vector<double>& scores);

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

// The weights part of a report: names (one per feature), weights and flags.
void FillWeights(Report::ReportContent& content,
                 const std::vector<std::string>& names,
                 const HostKit::Selection& selection);

// Renders the report and writes it atomically.
void SaveReport(const std::string& path, const Report::ReportContent& content);

}  // namespace Korva::Cli

#endif  // KORVA_CLI_COMMON_H_
