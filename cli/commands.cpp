#include "cli/commands.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <numeric>
#include <sstream>

#include "cli/atomic_file.h"
#include "cli/classifier_host.h"
#include "cli/csv_io.h"
#include "cli/data_checks.h"
#include "cli/evaluation.h"
#include "cli/html_report.h"
#include "cli/mat_io.h"
#include "cli/metrics.h"
#include "cli/p300_generator.h"

namespace Korva::Cli {
namespace {

constexpr const char* kInterceptNote =
    "A restored classifier has no intercept: the saved model does not carry "
    "the bias W0, so every score is shifted by the same constant. The ranking "
    "of the scores and the AUC are unchanged.";

// The customary settings for P300 data, used by the demo.
constexpr double kCustomaryPEnter = 0.10;
constexpr double kCustomaryPRemove = 0.15;

void Warn(const std::string& text) {
  std::cerr << "korva: warning: " << text << '\n';
}

std::string Fixed(double value, int digits) {
  if (std::isnan(value)) return "n/a";
  char buffer[64];
  std::snprintf(buffer, sizeof(buffer), "%.*f", digits, value);
  return buffer;
}

// A training time: milliseconds below a second, else seconds.
std::string Duration(double seconds) {
  if (seconds < 1.0) return Fixed(seconds * 1000.0, 1) + " ms";
  return Fixed(seconds, 2) + " s";
}

// Where a data set comes from: a CSV file, or a MATLAB file and its variables.
struct DataSource {
  std::string path;
  MatVariables mat;
};

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

Dataset LoadData(const DataSource& source, bool requireLabels) {
  try {
    if (IsMatFile(source.path))
      return ReadMat(source.path, source.mat, requireLabels);
    CsvOptions options;
    options.requireLabels = requireLabels;
    return ReadCsv(source.path, options);
  } catch (const DataError& error) {
    throw CliError(kExitData, error.what());
  }
}

// Warns about labels and useless columns of a set that is about to train.
void CheckTrainingSet(const Dataset& data, const std::string& what) {
  for (const std::string& warning : LabelWarnings(data, what)) Warn(warning);
  for (const std::string& warning :
       DescribeUselessColumns(data, FindUselessColumns(data)))
    Warn(what + ": " + warning);
}

std::string DescribeSet(const Dataset& data) {
  const LabelCounts counts = CountLabels(data);
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

// --p-enter, --p-remove and --max-iter; Get() holds only those given.
struct ParameterOptions {
  double pEnter = 0.0, pRemove = 0.0;
  int maxIter = 0;
  CLI::Option* pEnterOption = nullptr;
  CLI::Option* pRemoveOption = nullptr;
  CLI::Option* maxIterOption = nullptr;

  // `customary`: the help names the demo's 0.10 / 0.15 as the defaults
  // instead of the module's.
  void Add(CLI::App* command, bool customary) {
    const std::string from = customary ? "default here " : "module default ";
    pEnterOption =
        command->add_option("--p-enter",
                            pEnter,
                            "a feature enters below this p-value (" + from +
                                (customary ? "0.10" : "0.05") + ")");
    pRemoveOption =
        command->add_option("--p-remove",
                            pRemove,
                            "a feature leaves above this p-value (" + from +
                                (customary ? "0.15" : "0.10") + ")");
    maxIterOption = command->add_option(
        "--max-iter",
        maxIter,
        "most changes of the selection, 0 or more (module default 300)");
  }
  Parameters Get() const {
    Parameters parameters;
    if (pEnterOption->count()) parameters.pEnter = pEnter;
    if (pRemoveOption->count()) parameters.pRemove = pRemove;
    if (maxIterOption->count()) parameters.maxIter = maxIter;
    return parameters;
  }
};

// Checks the parameters on a throwaway object, so that a refused range is
// reported before any work starts.
void CheckParameters(const Module& module, const Parameters& parameters) {
  ClassifierHandle probe = NewClassifier(module);
  ApplyParameters(*probe, parameters);
}

void SaveReport(const std::string& path, const ReportContent& content) {
  WriteTextAtomically(path, RenderReport(content));
}

void FillWeights(ReportContent& content,
                 const std::vector<std::string>& names,
                 const Selection& selection) {
  content.names = names;
  content.names.resize(selection.features);
  content.weights = selection.weights;
  content.selected = selection.selected;
}

// ---- train ------------------------------------------------------------

struct TrainOptions {
  DataSource data;
  std::string model, weights, logJson, report, module;
  ParameterOptions parameters;
  bool quiet = false;
};

int RunTrain(const TrainOptions& options) {
  for (const std::string* output :
       {&options.model, &options.weights, &options.logJson, &options.report})
    if (!output->empty()) CheckWritable(*output);
  const Dataset data = LoadData(options.data, true);
  CheckTrainingSet(data, options.data.path);
  auto module = OpenModule(ChooseModulePath(options.module));
  ClassifierHandle classifier = NewClassifier(*module);
  ApplyParameters(*classifier, options.parameters.Get());

  std::ostream* out = options.quiet ? nullptr : &std::cout;
  if (out) {
    *out << "training on " << options.data.path << ": " << DescribeSet(data)
         << '\n'
         << ShortInfo(*classifier) << '\n';
  }
  const TrainingRun run = TrainClassifier(*classifier, data, out);
  if (!options.logJson.empty())
    WriteTextAtomically(options.logJson,
                        JsonText(TrainingLog(*classifier, run)));
  if (!run.Succeeded())
    throw CliError(run.result ? kExitTrainingFailed : kExitTrainingException,
                   TrainingFailure(run) + "; no model written");

  const Selection selection = ReadSelection(*classifier);
  if (selection.Count() == 0)
    Warn(
        "no feature was selected, so the model cannot classify; a larger "
        "--p-enter lets features in more easily");
  const std::vector<double> scores = ScoreRows(*classifier, data);
  const double auc = Auc(scores, data.labels);
  const double accuracy = SignAccuracy(scores, data.labels);

  SaveModel(*classifier, options.model);
  if (!options.weights.empty()) SaveWeights(*classifier, options.weights);
  if (!options.report.empty()) {
    ReportContent content;
    content.title = "DOZOD training on " + options.data.path;
    content.facts = {
        {"data", options.data.path + ": " + DescribeSet(data)},
        {"classifier", ShortInfo(*classifier)},
        {"selected features",
         std::to_string(selection.Count()) + " of " +
             std::to_string(data.cols)},
        {"training set AUC", Fixed(auc, 3)},
        {"training set accuracy", Fixed(accuracy, 3)},
        {"training time", Duration(run.seconds)},
    };
    content.rocs = {{"training set", scores, data.labels}};
    content.scores = scores;
    content.labels = data.labels;
    content.scoresCaption =
        "Scores of the training set itself: they look better than scores of "
        "new data would.";
    FillWeights(content, data.names, selection);
    SaveReport(options.report, content);
  }
  if (out) {
    *out << "selected " << selection.Count() << " of " << data.cols
         << " features in " << Duration(run.seconds) << "\n"
         << "training set: AUC " << Fixed(auc, 3) << ", accuracy "
         << Fixed(accuracy, 3) << " (scores of the training data itself)\n"
         << "model written to " << options.model << '\n';
    if (!options.weights.empty())
      *out << "weights written to " << options.weights << '\n';
    if (!options.logJson.empty())
      *out << "log written to " << options.logJson << '\n';
    if (!options.report.empty())
      *out << "report written to " << options.report << '\n';
  }
  return kExitOk;
}

// ---- score ------------------------------------------------------------

struct ScoreOptions {
  std::string model, output, module;
  DataSource data;
};

int RunScore(const ScoreOptions& options) {
  auto module = OpenModule(ChooseModulePath(options.module));
  ClassifierHandle classifier = LoadModel(*module, options.model);
  if (!classifier->CanClassify())
    throw CliError(kExitModel,
                   "model " + options.model +
                       " holds no trained classifier (no feature "
                       "is selected)");
  const Dataset data = LoadData(options.data, false);
  const Selection selection = ReadSelection(*classifier);
  if (data.cols != selection.features)
    throw CliError(kExitData,
                   options.data.path + " has " + std::to_string(data.cols) +
                       " feature columns but model " + options.model +
                       " was trained on " + std::to_string(selection.features));
  const std::vector<std::string>& modelNames = classifier->FeatureNames;
  for (int c = 0; c < data.cols; ++c) {
    if (c >= static_cast<int>(modelNames.size()) ||
        c >= static_cast<int>(data.names.size()))
      break;
    if (modelNames[c] != data.names[c]) {
      Warn("the feature names of " + options.data.path +
           " differ from the model's, first at feature " +
           std::to_string(c + 1) + " (model: \"" + modelNames[c] +
           "\", data: \"" + data.names[c] + "\")");
      break;
    }
  }

  const std::vector<double> scores = ScoreRows(*classifier, data);
  std::string csv = "score\n";
  for (double score : scores) csv += FormatDouble(score) + "\n";

  // With the scores on standard output, everything else goes to standard
  // error so that the output stays a clean CSV file.
  std::ostream& info = options.output.empty() ? std::cerr : std::cout;
  if (options.output.empty()) {
    std::cout << csv << std::flush;
  } else {
    WriteTextAtomically(options.output, csv);
    info << "scored " << data.rows << " rows of " << options.data.path
         << "; scores written to " << options.output << '\n';
  }
  if (data.hasLabels) {
    info << "AUC " << Fixed(Auc(scores, data.labels), 3)
         << " against the labels in " << options.data.path << '\n';
  }
  info << "note: " << kInterceptNote << '\n';
  return kExitOk;
}

// ---- evaluate ---------------------------------------------------------

struct EvaluateOptions {
  DataSource data;
  std::string test, report, module;
  int folds = 5;
  std::uint64_t seed = 1;
  int jobs = 2;
  ParameterOptions parameters;
};

void PrintFoldTable(const std::vector<std::string>& names,
                    const std::vector<FoldData>& folds,
                    const std::vector<FoldResult>& results) {
  std::printf("%-12s %6s %6s %9s %7s %9s %10s\n",
              "",
              "train",
              "test",
              "selected",
              "AUC",
              "accuracy",
              "time (ms)");
  for (size_t k = 0; k < results.size(); ++k) {
    const FoldResult& r = results[k];
    if (!r.Succeeded()) {
      std::printf("%-12s %6d %6d  failed: %s\n",
                  names[k].c_str(),
                  folds[k].train.rows,
                  folds[k].test.rows,
                  r.failure.c_str());
      continue;
    }
    std::printf("%-12s %6d %6d %9d %7s %9s %10s\n",
                names[k].c_str(),
                folds[k].train.rows,
                folds[k].test.rows,
                r.SelectedCount(),
                Fixed(Auc(r.scores, folds[k].test.labels), 3).c_str(),
                Fixed(SignAccuracy(r.scores, folds[k].test.labels), 3).c_str(),
                Fixed(r.seconds * 1000.0, 1).c_str());
  }
  std::fflush(stdout);
}

int RunEvaluate(const EvaluateOptions& options) {
  if (!options.report.empty()) CheckWritable(options.report);
  const Dataset data = LoadData(options.data, true);
  CheckTrainingSet(data, options.data.path);
  const Parameters parameters = options.parameters.Get();
  auto module = OpenModule(ChooseModulePath(options.module));
  CheckParameters(*module, parameters);

  std::vector<FoldData> folds;
  std::vector<std::string> names;
  std::string title;
  if (!options.test.empty()) {
    DataSource testSource = options.data;
    testSource.path = options.test;
    Dataset test = LoadData(testSource, true);
    if (test.cols != data.cols)
      throw CliError(kExitData,
                     options.test + " has " + std::to_string(test.cols) +
                         " feature columns but " + options.data.path + " has " +
                         std::to_string(data.cols));
    for (const std::string& warning : LabelWarnings(test, options.test))
      Warn(warning);
    std::cout << "calibration: " << options.data.path << ": "
              << DescribeSet(data) << "\ntest:        " << options.test << ": "
              << DescribeSet(test) << '\n';
    folds.push_back({data, std::move(test)});
    names.push_back("test set");
    title = "DOZOD: calibration on " + options.data.path + ", test on " +
            options.test;
  } else {
    const std::vector<int> fold =
        StratifiedFolds(data.labels, options.folds, options.seed);
    if (fold.empty()) {
      const LabelCounts counts = CountLabels(data);
      throw CliError(kExitData,
                     "cannot split " + options.data.path + " into " +
                         std::to_string(options.folds) +
                         " stratified folds: each fold needs a row of each "
                         "class, and the set has " +
                         std::to_string(counts.positive) +
                         " rows labelled +1 and " +
                         std::to_string(counts.negative) + " labelled -1");
    }
    for (int k = 0; k < options.folds; ++k) {
      folds.push_back({SubsetByFold(data, fold, k, false),
                       SubsetByFold(data, fold, k, true)});
      names.push_back("fold " + std::to_string(k + 1));
    }
    std::cout << options.data.path << ": " << DescribeSet(data) << '\n'
              << options.folds << "-fold stratified cross-validation, seed "
              << options.seed << '\n';
    title = "DOZOD: " + std::to_string(options.folds) +
            "-fold cross-validation on " + options.data.path;
  }
  {
    ClassifierHandle shown = NewClassifier(*module);
    ApplyParameters(*shown, parameters);
    std::cout << ShortInfo(*shown) << '\n' << std::flush;
  }

  const int jobs = std::max(1, std::min<int>(options.jobs, folds.size()));
  const std::vector<FoldResult> results =
      RunFolds(*module, parameters, folds, jobs);
  PrintFoldTable(names, folds, results);
  for (size_t k = 0; k < results.size(); ++k) {
    if (!results[k].Succeeded())
      throw CliError(
          results[k].threw ? kExitTrainingException : kExitTrainingFailed,
          names[k] + ": " + results[k].failure);
  }

  // Overall: the mean and spread of the per-fold values, and the pooled AUC
  // of every out-of-fold score.
  std::vector<double> aucs, accuracies, pooledScores, pooledLabels;
  double seconds = 0.0, selected = 0.0;
  for (size_t k = 0; k < results.size(); ++k) {
    aucs.push_back(Auc(results[k].scores, folds[k].test.labels));
    accuracies.push_back(SignAccuracy(results[k].scores, folds[k].test.labels));
    pooledScores.insert(
        pooledScores.end(), results[k].scores.begin(), results[k].scores.end());
    pooledLabels.insert(pooledLabels.end(),
                        folds[k].test.labels.begin(),
                        folds[k].test.labels.end());
    seconds += results[k].seconds;
    selected += results[k].SelectedCount();
  }
  const double n = static_cast<double>(results.size());
  const double meanAuc = std::accumulate(aucs.begin(), aucs.end(), 0.0) / n;
  double spread = 0.0;
  for (double a : aucs) spread += (a - meanAuc) * (a - meanAuc);
  spread = n > 1 ? std::sqrt(spread / (n - 1)) : 0.0;
  const double meanAccuracy =
      std::accumulate(accuracies.begin(), accuracies.end(), 0.0) / n;
  const double pooledAuc = Auc(pooledScores, pooledLabels);
  if (results.size() > 1) {
    std::cout << "overall: AUC " << Fixed(meanAuc, 3) << " +/- "
              << Fixed(spread, 3) << " (pooled " << Fixed(pooledAuc, 3)
              << "), accuracy " << Fixed(meanAccuracy, 3) << ", "
              << Fixed(selected / n, 1)
              << " features selected on average, training time "
              << Duration(seconds) << " in all\n";
  }

  if (!options.report.empty()) {
    ReportContent content;
    content.title = title;
    content.facts.push_back(
        {"data", options.data.path + ": " + DescribeSet(data)});
    if (!options.test.empty())
      content.facts.push_back(
          {"test data", options.test + ": " + DescribeSet(folds[0].test)});
    {
      ClassifierHandle shown = NewClassifier(*module);
      ApplyParameters(*shown, parameters);
      content.facts.push_back({"classifier", ShortInfo(*shown)});
    }
    for (size_t k = 0; k < results.size(); ++k) {
      content.facts.push_back({names[k],
                               "AUC " + Fixed(aucs[k], 3) + ", accuracy " +
                                   Fixed(accuracies[k], 3) + ", " +
                                   std::to_string(results[k].SelectedCount()) +
                                   " features, " +
                                   Fixed(results[k].seconds, 2) + " s"});
      content.rocs.push_back(
          {names[k], results[k].scores, folds[k].test.labels});
    }
    if (results.size() > 1) {
      content.facts.push_back({"overall",
                               "AUC " + Fixed(meanAuc, 3) + " +/- " +
                                   Fixed(spread, 3) + " (pooled " +
                                   Fixed(pooledAuc, 3) + "), accuracy " +
                                   Fixed(meanAccuracy, 3)});
    }
    content.scores = pooledScores;
    content.labels = pooledLabels;
    content.scoresCaption = results.size() > 1
                                ? "Out-of-fold scores of every fold together."
                                : "Scores of the test set.";
    // The weights shown are the mean over the folds (0 where a fold did not
    // select the feature), with how often each feature was selected.
    const int m = data.cols;
    Selection mean;
    mean.features = m;
    mean.selected.assign(m, false);
    mean.weights.assign(m, 0.0);
    std::vector<int> times(m, 0);
    for (const FoldResult& r : results) {
      for (int i = 0; i < m && i < static_cast<int>(r.weights.size()); ++i) {
        if (!r.selected[i]) continue;
        mean.selected[i] = true;
        mean.weights[i] += r.weights[i] / n;
        ++times[i];
      }
    }
    FillWeights(content, data.names, mean);
    if (results.size() > 1) {
      content.weightNotes.resize(m);
      for (int i = 0; i < m; ++i)
        if (times[i])
          content.weightNotes[i] = "(" + std::to_string(times[i]) + "/" +
                                   std::to_string(results.size()) + ")";
      content.weightsCaption =
          "Mean weight over the folds; in brackets, in how many folds the "
          "feature was selected.";
    }
    SaveReport(options.report, content);
    std::cout << "report written to " << options.report << '\n';
  }
  return kExitOk;
}

// ---- info -------------------------------------------------------------

int RunInfo(const std::string& modelPath, const std::string& modulePath) {
  auto module = OpenModule(ChooseModulePath(modulePath));
  ClassifierHandle classifier = LoadModel(*module, modelPath);
  std::ostringstream shortInfo, trainingInfo;
  classifier->GetShortInfo(shortInfo);
  classifier->GetTrainingInfo(trainingInfo);
  std::cout << "model: " << modelPath << '\n'
            << shortInfo.str() << '\n'
            << trainingInfo.str();
  if (!trainingInfo.str().empty() && trainingInfo.str().back() != '\n')
    std::cout << '\n';
  const Selection selection = ReadSelection(*classifier);
  if (selection.Count() > 0) {
    std::cout << "selected features by name:\n";
    for (int i = 0; i < selection.features; ++i) {
      if (!selection.selected[i]) continue;
      std::string name = i < static_cast<int>(classifier->FeatureNames.size())
                             ? classifier->FeatureNames[i]
                             : std::string();
      if (name.empty()) name = "#" + std::to_string(i + 1);
      std::cout << "  " << name << "  " << FormatDouble(selection.weights[i])
                << '\n';
    }
  }
  std::cout << "note: " << kInterceptNote << '\n';
  return kExitOk;
}

// ---- generate ---------------------------------------------------------

struct GenerateOptions {
  GeneratorOptions generator;
  std::string output;
};

int RunGenerate(const GenerateOptions& options) {
  if (std::string why = CheckGeneratorOptions(options.generator); !why.empty())
    throw CliError(kExitUsage, why);
  const Dataset data = GenerateP300(options.generator);
  std::ostringstream csv;
  WriteCsv(csv, data);
  if (options.output.empty() || options.output == "-") {
    std::cout << csv.str() << std::flush;
    return kExitOk;
  }
  WriteTextAtomically(options.output, csv.str());
  const LabelCounts counts = CountLabels(data);
  std::cout << "wrote " << data.rows << " epochs (" << counts.positive
            << " targets) x " << data.cols << " features ("
            << options.generator.channels << " channels x "
            << options.generator.samples << " samples) to " << options.output
            << '\n';
  return kExitOk;
}

// ---- demo -------------------------------------------------------------

struct DemoOptions {
  std::string output = "out/demo";
  std::string module;
  GeneratorOptions generator;
  ParameterOptions parameters;
  bool verbose = false;
};

int RunDemo(const DemoOptions& options) {
  Parameters parameters = options.parameters.Get();
  if (!parameters.pEnter) parameters.pEnter = kCustomaryPEnter;
  if (!parameters.pRemove) parameters.pRemove = kCustomaryPRemove;
  if (std::string why = CheckGeneratorOptions(options.generator); !why.empty())
    throw CliError(kExitUsage, why);
  auto module = OpenModule(ChooseModulePath(options.module));
  ClassifierHandle classifier = NewClassifier(*module);
  ApplyParameters(*classifier, parameters);
  MakeDirectories(options.output);
  const std::string dir = options.output + "/";

  GeneratorOptions calibrationOptions = options.generator;
  GeneratorOptions testOptions = options.generator;
  testOptions.seed = options.generator.seed + 1;
  const Dataset calibration = GenerateP300(calibrationOptions);
  const Dataset test = GenerateP300(testOptions);
  for (const auto& [name, set] : {std::pair{"calibration.csv", &calibration},
                                  std::pair{"test.csv", &test}}) {
    std::ostringstream csv;
    WriteCsv(csv, *set);
    WriteTextAtomically(dir + name, csv.str());
  }
  std::cout << "korva demo: simulated P300 epochs, "
            << options.generator.channels << " channels x "
            << options.generator.samples << " samples over 0-800 ms ("
            << calibration.cols << " features)\n"
            << "  calibration set: " << DescribeSet(calibration) << ", seed "
            << calibrationOptions.seed << '\n'
            << "  test set:        " << DescribeSet(test) << ", seed "
            << testOptions.seed << '\n'
            << "training " << ShortInfo(*classifier) << '\n'
            << std::flush;

  const TrainingRun run = TrainClassifier(
      *classifier, calibration, options.verbose ? &std::cout : nullptr);
  WriteTextAtomically(dir + "training-log.json",
                      JsonText(TrainingLog(*classifier, run)));
  if (!run.Succeeded())
    throw CliError(run.result ? kExitTrainingFailed : kExitTrainingException,
                   TrainingFailure(run) + "; no model written");

  const Selection selection = ReadSelection(*classifier);
  const std::vector<double> trainScores = ScoreRows(*classifier, calibration);
  const std::vector<double> testScores = ScoreRows(*classifier, test);
  const double auc = Auc(testScores, test.labels);
  const double accuracy = SignAccuracy(testScores, test.labels);

  SaveModel(*classifier, dir + "model.xml");
  SaveWeights(*classifier, dir + "weights.txt");
  std::string csv = "score\n";
  for (double score : testScores) csv += FormatDouble(score) + "\n";
  WriteTextAtomically(dir + "test-scores.csv", csv);

  ReportContent content;
  content.title = "korva demo: DOZOD on simulated P300 data";
  content.facts = {
      {"calibration set", DescribeSet(calibration)},
      {"test set", DescribeSet(test)},
      {"classifier", ShortInfo(*classifier)},
      {"selected features",
       std::to_string(selection.Count()) + " of " +
           std::to_string(calibration.cols)},
      {"test set AUC", Fixed(auc, 3)},
      {"test set accuracy", Fixed(accuracy, 3)},
      {"training time", Duration(run.seconds)},
  };
  content.rocs = {
      {"calibration set (training data)", trainScores, calibration.labels},
      {"test set", testScores, test.labels}};
  content.scores = testScores;
  content.labels = test.labels;
  content.scoresCaption = "Scores of the test set.";
  FillWeights(content, calibration.names, selection);
  SaveReport(dir + "report.html", content);

  std::cout << "selected features: " << selection.Count() << " of "
            << calibration.cols << '\n'
            << "training time:     " << Duration(run.seconds) << "\n"
            << "test set AUC:      " << Fixed(auc, 3) << '\n'
            << "test set accuracy: " << Fixed(accuracy, 3)
            << " (sign of the score against the label)\n"
            << "written to " << options.output
            << ": model.xml, weights.txt, report.html, training-log.json, "
               "test-scores.csv, calibration.csv, test.csv\n";
  return kExitOk;
}

// Scores or data that never reached standard output (a full disk behind a
// redirection) must not pass for success.
int FinishStandardOutput(int status) {
  errno = 0;
  std::cout.flush();
  const bool flushed = std::fflush(stdout) == 0;
  const int error = errno;
  if (flushed && std::cout && !std::ferror(stdout)) return status;
  std::cerr << "korva: error: cannot write standard output"
            << (error ? std::string(": ") + std::strerror(error) : "") << '\n';
  return status == kExitOk ? kExitOutput : status;
}

void AddModuleOption(CLI::App* command, std::string& module) {
  command->add_option("--module",
                      module,
                      "classifier module to load (default: $KORVA_MODULE, "
                      "else ZEZODOvo64.kvc beside korva)");
}

}  // namespace

int RunKorva(int argc, char** argv) {
  CLI::App app{
      "korva: trains, evaluates and applies the DOZOD stepwise "
      "linear discriminant classifier (module ZEZODOvo64.kvc)"};
  app.require_subcommand(1);
  app.footer(
      "Exit status: 0 success, 2 bad command line or parameter, 3 bad input "
      "data, 4 module cannot be loaded, 5 unusable model document, 6 training "
      "failed, 7 exception inside training, 8 output cannot be written, 9 no "
      "display for edit.");

  TrainOptions train;
  CLI::App* trainCommand = app.add_subcommand(
      "train", "train a classifier and save its model document");
  trainCommand
      ->add_option("DATA", train.data.path, "training data (.csv or .mat)")
      ->required();
  trainCommand
      ->add_option("--model", train.model, "classifier document to write (XML)")
      ->required();
  trainCommand->add_option("--weights", train.weights, "weight file to write");
  trainCommand->add_option(
      "--log-json", train.logJson, "JSON log of the training to write");
  trainCommand->add_option("--report", train.report, "HTML report to write");
  trainCommand->add_flag("--quiet",
                         train.quiet,
                         "print nothing on standard output (warnings and "
                         "errors still go to standard error)");
  train.parameters.Add(trainCommand, false);
  AddMatOptions(trainCommand, train.data);
  AddModuleOption(trainCommand, train.module);

  ScoreOptions score;
  CLI::App* scoreCommand = app.add_subcommand(
      "score", "score data with a saved classifier, one score per row");
  scoreCommand->add_option("MODEL", score.model, "classifier document (XML)")
      ->required();
  scoreCommand
      ->add_option("DATA", score.data.path, "data to score (.csv or .mat)")
      ->required();
  scoreCommand->add_option(
      "--output",
      score.output,
      "CSV file for the scores (default: standard output)");
  AddMatOptions(scoreCommand, score.data);
  AddModuleOption(scoreCommand, score.module);

  EvaluateOptions evaluate;
  CLI::App* evaluateCommand =
      app.add_subcommand("evaluate",
                         "stratified K-fold cross-validation, or calibration "
                         "on DATA and test on --test");
  evaluateCommand->add_option("DATA", evaluate.data.path, "data (.csv or .mat)")
      ->required();
  evaluateCommand->add_option(
      "--test", evaluate.test, "test data: train on DATA, test on this");
  evaluateCommand
      ->add_option("--folds", evaluate.folds, "number of folds (default 5)")
      ->check(CLI::Range(2, 1000));
  evaluateCommand->add_option(
      "--seed", evaluate.seed, "seed of the fold split (default 1)");
  evaluateCommand
      ->add_option(
          "--jobs", evaluate.jobs, "folds trained at the same time (default 2)")
      ->check(CLI::Range(1, 64));
  evaluateCommand->add_option(
      "--report", evaluate.report, "HTML report to write");
  evaluate.parameters.Add(evaluateCommand, false);
  AddMatOptions(evaluateCommand, evaluate.data);
  AddModuleOption(evaluateCommand, evaluate.module);

  std::string infoModel, infoModule;
  CLI::App* infoCommand = app.add_subcommand(
      "info", "show the short and training reports of a saved classifier");
  infoCommand->add_option("MODEL", infoModel, "classifier document (XML)")
      ->required();
  AddModuleOption(infoCommand, infoModule);

  std::string editModel, editModule;
  CLI::App* editCommand =
      app.add_subcommand("edit",
                         "edit the configuration of a saved classifier in its "
                         "dialog; saved on OK");
  editCommand->add_option("MODEL", editModel, "classifier document (XML)")
      ->required();
  AddModuleOption(editCommand, editModule);

  GenerateOptions generate;
  CLI::App* generateCommand =
      app.add_subcommand("generate", "write a simulated P300 data set (CSV)");
  generateCommand->add_option(
      "--epochs", generate.generator.epochs, "epochs (rows, default 720)");
  generateCommand->add_option("--channels",
                              generate.generator.channels,
                              "channels (1 to 32, default 8)");
  generateCommand->add_option("--samples",
                              generate.generator.samples,
                              "samples per channel over 0-800 ms (default 20)");
  generateCommand->add_option("--seed",
                              generate.generator.seed,
                              "random seed (default 1); the same seed gives "
                              "the same file");
  generateCommand->add_option("--target-ratio",
                              generate.generator.targetRatio,
                              "share of target epochs (default 1/6)");
  generateCommand->add_option("--output",
                              generate.output,
                              "CSV file to write (default: standard output)");

  DemoOptions demo;
  CLI::App* demoCommand = app.add_subcommand(
      "demo",
      "simulate calibration and test sets, train with p-enter 0.10 and "
      "p-remove 0.15, test, and write model, weights and report");
  demoCommand->add_option(
      "--output", demo.output, "folder for the results (default out/demo)");
  demoCommand->add_option("--seed",
                          demo.generator.seed,
                          "seed of the calibration set; the test set uses "
                          "seed + 1 (default 1)");
  demoCommand->add_option(
      "--epochs", demo.generator.epochs, "epochs in each set (default 720)");
  demoCommand->add_option(
      "--channels", demo.generator.channels, "channels (default 8)");
  demoCommand->add_option(
      "--samples", demo.generator.samples, "samples per channel (default 20)");
  demo.parameters.Add(demoCommand, true);
  demoCommand->add_flag(
      "--verbose", demo.verbose, "print every training message");
  AddModuleOption(demoCommand, demo.module);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    const int code = app.exit(error);
    return code == 0 ? kExitOk : kExitUsage;
  }

  try {
    int status = kExitUsage;
    if (trainCommand->parsed()) status = RunTrain(train);
    if (scoreCommand->parsed()) status = RunScore(score);
    if (evaluateCommand->parsed()) status = RunEvaluate(evaluate);
    if (infoCommand->parsed()) status = RunInfo(infoModel, infoModule);
    if (editCommand->parsed())
      status = RunEdit(argv[0], editModel, ChooseModulePath(editModule));
    if (generateCommand->parsed()) status = RunGenerate(generate);
    if (demoCommand->parsed()) status = RunDemo(demo);
    return FinishStandardOutput(status);
  } catch (const CliError& error) {
    std::cerr << "korva: error: " << error.what() << '\n';
    return error.Code();
  } catch (const OutputError& error) {
    std::cerr << "korva: error: " << error.what() << '\n';
    return kExitOutput;
  } catch (const std::exception& error) {
    std::cerr << "korva: error: " << error.what() << '\n';
    return 1;
  }
}

}  // namespace Korva::Cli
