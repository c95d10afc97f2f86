#include "korva/hostkit/training.h"

#include <newmat/newmat.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>
#include <new>
#include <ostream>

#include "korva/hostkit/memory_budget.h"
#include "korva/step_message.h"
#include "korva/text.h"

namespace Korva::HostKit {

std::string TerminalText(const std::string& message) {
  std::string text;
  text.reserve(message.size());
  for (char c : message) {
    if (c == '\r') continue;
    if (c == '\n' && (text.empty() || text.back() == '\n')) continue;
    text += c;
  }
  while (!text.empty() && text.back() == '\n') text.pop_back();
  return CleanText(text);
}

void RecordingProgress::AddMessage(const std::string& message) {
  messages_.push_back(message);
  if (echo_ != nullptr) *echo_ << TerminalText(message) << std::endl;
}

TrainingRun Train(ClassifierBase& classifier,
                  const MatrixView& X,
                  const double* labels,
                  const std::vector<std::string>& names,
                  std::ostream* echo) {
  if (static_cast<long long>(X.rows) * X.cols > std::numeric_limits<int>::max())
    throw Error(ErrorKind::kData,
                "the data set is too large for the matrix library (" +
                    std::to_string(X.rows) + " x " + std::to_string(X.cols) +
                    " values)");
  CheckTrainingMemory(X.rows, X.cols, true);
  NEWMAT::Matrix data(X.rows, X.cols);
  for (int r = 0; r < X.rows; ++r)
    std::copy_n(
        X.Row(r), X.cols, data.Store() + static_cast<size_t>(r) * X.cols);
  return Train(classifier, data, labels, names, echo);
}

TrainingRun Train(ClassifierBase& classifier,
                  NEWMAT::Matrix& data,
                  const double* labels,
                  const std::vector<std::string>& names,
                  std::ostream* echo) {
  CheckTrainingMemory(data.Nrows(), data.Ncols(), false);
  NEWMAT::ColumnVector y(data.Nrows());
  std::memcpy(
      y.Store(), labels, static_cast<size_t>(data.Nrows()) * sizeof(double));
  classifier.FeatureNames = names;

  TrainingRun run;
  RecordingProgress progress(echo);
  const auto start = std::chrono::steady_clock::now();
  try {
    run.result = classifier.Train2(data, y, &progress, run.messages);
  } catch (const NEWMAT::BaseException&) {
    // The matrix library keeps its message in one static buffer, over lines.
    const char* text = NEWMAT::BaseException::what();
    std::string message = text && *text ? TerminalText(text) : "";
    std::replace(message.begin(), message.end(), '\n', ' ');
    run.exception = "matrix library: " + message;
  } catch (const std::bad_alloc&) {
    run.exception = "out of memory";
  } catch (const std::exception& error) {
    run.exception = error.what();
  }
  run.seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
          .count();
  run.progress = progress.Messages();
  return run;
}

std::string TrainingFailure(const TrainingRun& run) {
  if (!run.result) return "training raised an exception: " + run.exception;
  std::string text = "training failed: the classifier returned status " +
                     std::to_string(*run.result);
  if (*run.result == kStatusRejected)
    text += " (too few examples for the model it was fitting)";
  return text;
}

Error TrainingError(const TrainingRun& run, const std::string& consequence) {
  std::string text = TrainingFailure(run);
  if (!consequence.empty()) text += "; " + consequence;
  return Error(
      run.result ? ErrorKind::kTrainingFailed : ErrorKind::kTrainingException,
      text);
}

std::vector<double> ScoreRows(ClassifierBase& classifier,
                              const MatrixView& X,
                              double offset) {
  std::vector<double> scores(X.rows);
  NEWMAT::RowVector x(X.cols);
  for (int r = 0; r < X.rows; ++r) {
    std::copy_n(X.Row(r), X.cols, x.Store());
    scores[r] = classifier.GetScore(x) + offset;
  }
  return scores;
}

std::vector<Step> TrainingSteps(const TrainingRun& run, int maxIter) {
  std::vector<Step> steps;
  for (const std::string& message : run.progress) {
    const std::optional<StepChange> change = ParseStepMessage(message);
    if (change && change->step <= maxIter)
      steps.push_back({change->step, change->added, change->feature, change->p});
  }
  return steps;
}

}  // namespace Korva::HostKit
