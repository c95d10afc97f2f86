#include "cli/evaluation.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <iostream>
#include <limits>
#include <nlohmann/json.hpp>

namespace Korva::Cli {
namespace {

using Json = nlohmann::json;

Json ToJson(const FoldResult& fold) {
  Json json;
  json["result"] = fold.result ? Json(*fold.result) : Json(nullptr);
  json["failure"] = fold.failure;
  json["threw"] = fold.threw;
  json["seconds"] = fold.seconds;
  // JSON has no NaN; null stands for it.
  Json scores = Json::array();
  for (double s : fold.scores)
    scores.push_back(std::isfinite(s) ? Json(s) : Json(nullptr));
  json["scores"] = std::move(scores);
  json["selected"] = fold.selected;
  json["weights"] = fold.weights;
  return json;
}

FoldResult FromJson(const Json& json) {
  FoldResult fold;
  if (!json.at("result").is_null()) fold.result = json.at("result").get<int>();
  fold.failure = json.at("failure").get<std::string>();
  fold.threw = json.at("threw").get<bool>();
  fold.seconds = json.at("seconds").get<double>();
  for (const Json& s : json.at("scores"))
    fold.scores.push_back(s.is_null() ? std::numeric_limits<double>::quiet_NaN()
                                      : s.get<double>());
  fold.selected = json.at("selected").get<std::vector<bool>>();
  fold.weights = json.at("weights").get<std::vector<double>>();
  return fold;
}

FoldResult Failed(const std::string& why) {
  FoldResult fold;
  fold.failure = why;
  return fold;
}

void WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

struct Worker {
  pid_t pid;
  int fd;
  size_t fold;
  std::string output;
};

std::string ExitDescription(int status) {
  if (WIFSIGNALED(status))
    return "its worker process was ended by signal " +
           std::to_string(WTERMSIG(status)) + " (" +
           strsignal(WTERMSIG(status)) + ")";
  return "its worker process exited with status " +
         std::to_string(WEXITSTATUS(status));
}

}  // namespace

int FoldResult::SelectedCount() const {
  int count = 0;
  for (bool flag : selected) count += flag;
  return count;
}

Dataset SubsetByFold(const Dataset& data,
                     const std::vector<int>& fold,
                     int k,
                     bool inFold) {
  Dataset subset;
  subset.cols = data.cols;
  subset.names = data.names;
  subset.hasLabels = data.hasLabels;
  for (int r = 0; r < data.rows; ++r) {
    if ((fold[r] == k) != inFold) continue;
    const auto row = data.X.begin() + static_cast<size_t>(r) * data.cols;
    subset.X.insert(subset.X.end(), row, row + data.cols);
    if (data.hasLabels) subset.labels.push_back(data.labels[r]);
    ++subset.rows;
  }
  return subset;
}

FoldResult RunFold(const Module& module,
                   const Parameters& parameters,
                   const Dataset& train,
                   const Dataset& test) {
  FoldResult fold;
  try {
    ClassifierHandle classifier = NewClassifier(module);
    ApplyParameters(*classifier, parameters);
    const TrainingRun run = TrainClassifier(*classifier, train, nullptr);
    fold.result = run.result;
    fold.seconds = run.seconds;
    if (!run.Succeeded()) {
      fold.failure = TrainingFailure(run);
      fold.threw = !run.result;
      return fold;
    }
    const Selection selection = ReadSelection(*classifier);
    fold.selected = selection.selected;
    fold.weights = selection.weights;
    fold.scores = ScoreRows(*classifier, test);
  } catch (const CliError& error) {
    fold.failure = error.what();
  } catch (const std::exception& error) {
    fold.failure = error.what();
  }
  return fold;
}

std::vector<FoldResult> RunFolds(const Module& module,
                                 const Parameters& parameters,
                                 const std::vector<FoldData>& folds,
                                 int jobs) {
  std::vector<FoldResult> results(folds.size());
  if (jobs <= 1 || folds.size() <= 1) {
    for (size_t k = 0; k < folds.size(); ++k)
      results[k] = RunFold(module, parameters, folds[k].train, folds[k].test);
    return results;
  }

  std::vector<Worker> active;
  size_t next = 0;
  auto start = [&](size_t k) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
      results[k] =
          Failed(std::string("cannot start a worker: ") + std::strerror(errno));
      return;
    }
    std::cout.flush();
    std::cerr.flush();
    const pid_t pid = ::fork();
    if (pid < 0) {
      results[k] =
          Failed(std::string("cannot start a worker: ") + std::strerror(errno));
      ::close(fds[0]);
      ::close(fds[1]);
      return;
    }
    if (pid == 0) {
      ::close(fds[0]);
      std::string text;
      try {
        text =
            ToJson(RunFold(module, parameters, folds[k].train, folds[k].test))
                .dump();
      } catch (const std::exception& error) {
        text = ToJson(Failed(error.what())).dump();
      }
      WriteAll(fds[1], text);
      ::close(fds[1]);
      // No destructors or exit handlers: they belong to the parent.
      ::_exit(0);
    }
    ::close(fds[1]);
    active.push_back({pid, fds[0], k, {}});
  };

  while (next < folds.size() || !active.empty()) {
    while (active.size() < static_cast<size_t>(jobs) && next < folds.size())
      start(next++);
    if (active.empty()) continue;
    std::vector<pollfd> wanted;
    for (const Worker& worker : active)
      wanted.push_back({worker.fd, POLLIN, 0});
    if (::poll(wanted.data(), wanted.size(), -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (size_t i = wanted.size(); i-- > 0;) {
      if (wanted[i].revents == 0) continue;
      Worker& worker = active[i];
      char buffer[1 << 16];
      const ssize_t n = ::read(worker.fd, buffer, sizeof(buffer));
      if (n < 0 && errno == EINTR) continue;
      if (n > 0) {
        worker.output.append(buffer, static_cast<size_t>(n));
        continue;
      }
      ::close(worker.fd);
      int status = 0;
      while (::waitpid(worker.pid, &status, 0) < 0 && errno == EINTR) {
      }
      FoldResult& result = results[worker.fold];
      try {
        result = FromJson(Json::parse(worker.output));
      } catch (const std::exception&) {
        result = Failed("the fold gave no result: " + ExitDescription(status));
      }
      active.erase(active.begin() + static_cast<long>(i));
    }
  }
  return results;
}

}  // namespace Korva::Cli
