#include "cli/common.h"

#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <sstream>

#include "cli/exit_status.h"
#include "data/csv_io.h"
#include "data/data_checks.h"
#include "korva/hostkit/output_file.h"
#include "korva/text.h"

namespace Korva::Cli {

void Warn(const std::string& text) {
  std::cerr << "korva: warning: " << CleanText(text) << '\n';
}

std::string Fixed(double value, int digits) {
  if (std::isnan(value)) return "n/a";
  char buffer[64];
  std::snprintf(buffer, sizeof(buffer), "%.*f", digits, value);
  return buffer;
}

std::string Duration(double seconds) {
  if (seconds < 1.0) return Fixed(seconds * 1000.0, 1) + " ms";
  return Fixed(seconds, 2) + " s";
}

void AddMatOptions(CLI::App* command, DataSource& source) {
  command->add_option(
      "--x",
      source.mat.x,
      "MATLAB file: variable with the features (epochs x features)");
  command->add_option("--y",
                      source.mat.y,
                      "MATLAB file: variable with the labels (one per epoch)");
  command->add_option("--names",
                      source.mat.names,
                      "MATLAB file: cell array with the feature names");
}

const CLI::Validator kWholeNumber(
    [](std::string& text) {
      return !text.empty() &&
                     text.find_first_not_of("0123456789") == std::string::npos
                 ? std::string()
                 : "must be a whole number, 0 or more (" + text + ")";
    },
    "NUMBER");

void AddModuleOption(CLI::App* command, std::string& module) {
  command->add_option("--module",
                      module,
                      "classifier module to load (default: $KORVA_MODULE, "
                      "else ZEZODOvo64.kvc beside korva)");
}

namespace {

// What identifies a file: device and inode when it exists, else its path
// with the links and dots of its folder resolved.
std::string FileIdentity(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0)
    return std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
  std::error_code error;
  return std::filesystem::weakly_canonical(std::filesystem::absolute(path),
                                           error)
      .string();
}

}  // namespace

void CheckDistinctFiles(const std::vector<CommandFile>& files) {
  for (size_t a = 0; a < files.size(); ++a) {
    for (size_t b = a + 1; b < files.size(); ++b) {
      const CommandFile& x = files[a];
      const CommandFile& y = files[b];
      if (x.path.empty() || y.path.empty() || !(x.output || y.output)) continue;
      if (FileIdentity(x.path) == FileIdentity(y.path))
        throw CliError(kExitUsage,
                       std::string(x.role) + " and " + y.role +
                           " name the same file (" + y.path +
                           "); an output would overwrite it");
    }
  }
}

Dataset LoadData(const DataSource& source, bool requireLabels) {
  if (!Data::IsMatFile(source.path) &&
      !(source.mat.x + source.mat.y + source.mat.names).empty())
    throw CliError(kExitUsage,
                   "--x, --y and --names name the variables of a MATLAB "
                   "file, and " +
                       source.path +
                       " is not one (a MATLAB file's name ends in .mat)");
  if (Data::IsMatFile(source.path))
    return Data::ReadMat(source.path, source.mat, requireLabels);
  Data::CsvOptions options;
  options.requireLabels = requireLabels;
  return Data::ReadCsv(source.path, options);
}

void CheckTrainingSet(const Dataset& data, const std::string& what) {
  for (const std::string& warning : Data::LabelWarnings(data, what))
    Warn(warning);
  for (const std::string& warning :
       Data::DescribeUselessColumns(data, Data::FindUselessColumns(data)))
    Warn(what + ": " + warning);
}

std::string DescribeSet(const Dataset& data) {
  const Data::LabelCounts counts = Data::CountLabels(data);
  std::string text = std::to_string(data.rows) + " rows (" +
                     std::to_string(counts.positive) + " labelled +1, " +
                     std::to_string(counts.negative) + " labelled -1";
  if (counts.other) text += ", " + std::to_string(counts.other) + " other";
  return text + "), " + std::to_string(data.cols) + " features";
}

std::string ShortInfo(ClassifierBase& classifier) {
  std::ostringstream text;
  classifier.GetShortInfo(text);
  std::string info = text.str();
  while (!info.empty() && info.back() == ' ') info.pop_back();
  return info;
}

void ParameterOptions::Add(CLI::App* command, bool customary) {
  const std::string from = customary ? "default here " : "module default ";
  pEnterOption_ =
      command->add_option("--p-enter",
                          pEnter_,
                          "a feature enters below this p-value (" + from +
                              (customary ? "0.10" : "0.05") + ")");
  pRemoveOption_ =
      command->add_option("--p-remove",
                          pRemove_,
                          "a feature leaves above this p-value (" + from +
                              (customary ? "0.15" : "0.10") + ")");
  maxIterOption_ = command->add_option(
      "--max-iter",
      maxIter_,
      "most changes of the selection, 0 or more (module default 300)");
}

HostKit::SettingsChange ParameterOptions::Get() const {
  HostKit::SettingsChange change;
  if (pEnterOption_->count()) change.pEnter = pEnter_;
  if (pRemoveOption_->count()) change.pRemove = pRemove_;
  if (maxIterOption_->count()) change.maxIter = maxIter_;
  return change;
}

HostKit::MatrixView View(const Dataset& data) {
  return {data.X.data(), data.rows, data.cols};
}

HostKit::TrainingRun TrainOn(ClassifierBase& classifier,
                             const Dataset& data,
                             std::ostream* echo) {
  if (!data.hasLabels) throw Data::DataError("the training data has no labels");
  return HostKit::Train(
      classifier, View(data), data.labels.data(), data.names, echo);
}

std::vector<double> ScoreSet(ClassifierBase& classifier, const Dataset& data) {
  return HostKit::ScoreRows(classifier, View(data));
}

std::string ScoreCsv(const std::vector<double>& scores) {
  std::string csv = "score\n";
  for (double score : scores) csv += Data::FormatDouble(score) + "\n";
  return csv;
}

void FillWeights(Report::ReportContent& content,
                 const std::vector<std::string>& names,
                 const HostKit::Selection& selection) {
  content.names = names;
  content.names.resize(selection.features);
  content.weights = selection.weights;
  content.selected = selection.selected;
}

void SaveReport(const std::string& path, const Report::ReportContent& content) {
  HostKit::WriteTextAtomically(path, Report::RenderReport(content));
}

}  // namespace Korva::Cli
