#include "cli/common.h"

#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <sstream>

#include "cli/exit_status.h"
#include "cli/input_digest.h"
#include "cli/output_streams.h"
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
      if (text.empty() ||
          text.find_first_not_of("0123456789") != std::string::npos)
        return "must be a whole number, 0 or more (" + text + ")";
      // Read as decimal (a leading 0 would make it octal), and never clamped
      // to the largest value: two seeds would give the same folds.
      const size_t first =
          std::min(text.find_first_not_of('0'), text.size() - 1);
      text.erase(0, first);
      const std::string largest = "18446744073709551615";  // 2^64 - 1
      if (text.size() > largest.size() ||
          (text.size() == largest.size() && text > largest))
        return "must be at most " + largest + " (" + text + ")";
      return std::string();
    },
    "NUMBER");

void AddLabelOption(CLI::App* command, DataSource& source) {
  command->add_option("--target-label",
                      source.targetLabel,
                      "the label of the target class: rows with it are +1, "
                      "all others -1 (default: labels are +1 and -1)");
}

void AddQuietOption(CLI::App* command, bool& quiet) {
  command->add_flag("--quiet",
                    quiet,
                    "print nothing on standard output but the outputs asked "
                    "for there (warnings and errors still go to standard "
                    "error)");
}

std::ostream* MessageStream(bool quiet,
                            const std::vector<std::string>& outputs) {
  if (quiet) return nullptr;
  return std::any_of(outputs.begin(), outputs.end(), WritesStandardOutput)
             ? &std::cerr
             : &std::cout;
}

std::string MetricsText(const Report::Confusion& c) {
  return "accuracy " + Fixed(c.Accuracy(), 3) + ", balanced accuracy " +
         Fixed(c.BalancedAccuracy(), 3) + " (TP " + std::to_string(c.tp) +
         ", FN " + std::to_string(c.fn) + ", FP " + std::to_string(c.fp) +
         ", TN " + std::to_string(c.tn) + "; majority baseline " +
         Fixed(c.MajorityBaseline(), 3) + ")";
}

void WarnNearBaseline(const Report::Confusion& c, const std::string& what) {
  if (!(c.Accuracy() < c.MajorityBaseline() + 0.01)) return;
  Warn(what + ": accuracy " + Fixed(c.Accuracy(), 3) +
       " is within a point of always answering " +
       (c.tp + c.fn > c.fp + c.tn ? "+1" : "-1") + " (" +
       Fixed(c.MajorityBaseline(), 3) + "); the balanced accuracy, " +
       Fixed(c.BalancedAccuracy(), 3) +
       ", and the AUC say how well the classes are told apart");
}

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
  CheckOneOutputPerStream(files);
  // An output to a descriptor is not a file that could be overwritten.
  const auto stream = [](const CommandFile& f) {
    return f.path == "-" || (f.output && WritesDescriptor(f.path));
  };
  for (size_t a = 0; a < files.size(); ++a) {
    for (size_t b = a + 1; b < files.size(); ++b) {
      const CommandFile& x = files[a];
      const CommandFile& y = files[b];
      if (x.path.empty() || y.path.empty() || stream(x) || stream(y) ||
          !(x.output || y.output))
        continue;
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
  if (Data::IsMatFile(source.path) && !source.groups.empty())
    throw CliError(kExitUsage, "--groups names a column of a CSV file");
  Dataset data;
  InputDigest digest(source.path);
  if (Data::IsMatFile(source.path)) {
    data = Data::LoadMat(source.path, source.mat, requireLabels, digest.Sink());
  } else {
    Data::CsvOptions options;
    options.requireLabels = requireLabels;
    options.groupColumn = source.groups;
    options.onBytes = digest.Sink();
    data = Data::ReadCsv(source.path, options);
  }
  digest.Keep();
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
                             Dataset& data,
                             std::ostream* echo) {
  if (!data.hasLabels) throw Data::DataError("the training data has no labels");
  return HostKit::Train(
      classifier, data.X.Matrix(), data.labels.data(), data.names, echo);
}

std::vector<double> ScoreSet(ClassifierBase& classifier, const Dataset& data) {
  return HostKit::ScoreRows(classifier, View(data));
}

std::string ScoresCsv(const Dataset& data, const std::vector<double>& scores) {
  std::string csv = data.hasLabels ? "row,label,score\n" : "row,score\n";
  for (size_t r = 0; r < scores.size(); ++r)
    csv += std::to_string(r + 1) + "," +
           (data.hasLabels ? Data::FormatDouble(data.labels[r]) + "," : "") +
           Data::FormatDouble(scores[r]) + "\n";
  return csv;
}

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

}  // namespace

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
