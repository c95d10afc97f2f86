#include "cli/fold_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>

#include "cli/data_input.h"
#include "korva/hostkit/module_path.h"
#include "korva/hostkit/trained_model.h"

namespace Korva::Cli {

using Json = nlohmann::json;

// CBOR rather than JSON text: it carries every double as its bits, the
// infinities and NaN included, which JSON text cannot spell.
std::vector<std::uint8_t> EncodeFoldResult(const FoldResult& fold) {
  Json json;
  json["result"] = fold.result ? Json(*fold.result) : Json(nullptr);
  json["failure"] = fold.failure;
  json["threw"] = fold.threw;
  json["seconds"] = fold.seconds;
  json["scores"] = fold.scores;
  json["selected"] = fold.selected;
  json["weights"] = fold.weights;
  json["cut"] = fold.cut;
  return Json::to_cbor(json);
}

FoldResult DecodeFoldResult(const std::vector<std::uint8_t>& bytes) {
  const Json json = Json::from_cbor(bytes);
  FoldResult fold;
  if (!json.at("result").is_null()) fold.result = json.at("result").get<int>();
  fold.failure = json.at("failure").get<std::string>();
  fold.threw = json.at("threw").get<bool>();
  fold.seconds = json.at("seconds").get<double>();
  fold.scores = json.at("scores").get<std::vector<double>>();
  fold.selected = json.at("selected").get<std::vector<bool>>();
  fold.weights = json.at("weights").get<std::vector<double>>();
  fold.cut = json.at("cut").get<double>();
  return fold;
}

namespace {

FoldResult Failed(const std::string& why) {
  FoldResult fold;
  fold.failure = why;
  return fold;
}

void WriteAll(int fd, const std::vector<std::uint8_t>& text) {
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
  std::vector<std::uint8_t> output;
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

FoldResult RunFold(const Module& module,
                   const FoldSettings& settings,
                   const FoldData& data) {
  FoldResult fold;
  try {
    ClassifierHandle classifier = HostKit::NewClassifier(module);
    HostKit::ApplySettings(*classifier, settings.parameters);
    Data::Dataset train = data.makeTrain();
    if (settings.balancedThreshold) {
      HostKit::SettingsChange chosen;
      chosen.threshold =
          ChooseBalancedCut(module, settings.parameters, train, 1);
      HostKit::ApplySettings(*classifier, chosen);
    }
    HostKit::TrainingRun run = TrainOn(*classifier, train, nullptr);
    fold.result = run.result;
    fold.seconds = run.seconds;
    if (!run.Succeeded()) {
      fold.failure = HostKit::TrainingFailure(run);
      fold.threw = !run.result;
      return fold;
    }
    const HostKit::TrainedModel model(std::move(classifier),
                                      std::move(run),
                                      View(train),
                                      train.labels.data());
    fold.selected = model.Selected();
    fold.weights = model.SavedWeights();
    fold.scores = model.Score(View(data.test));
    fold.cut = model.Cut();
  } catch (const std::exception& error) {
    fold.failure = error.what();
  }
  return fold;
}

namespace {

// Starts a worker process that runs fold k and writes its result
// (EncodeFoldResult) to a pipe. Records the failure in `result` when no worker
// can start.
std::optional<Worker> StartWorker(const Module& module,
                                  const FoldSettings& settings,
                                  const std::vector<FoldData>& folds,
                                  size_t k,
                                  FoldResult& result) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    result =
        Failed(std::string("cannot start a worker: ") + std::strerror(errno));
    return std::nullopt;
  }
  std::cout.flush();
  std::cerr.flush();
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid < 0) {
    result =
        Failed(std::string("cannot start a worker: ") + std::strerror(errno));
    ::close(fds[0]);
    ::close(fds[1]);
    return std::nullopt;
  }
  if (pid == 0) {
    // The worker ends with korva, also when korva is killed; the parent may
    // have gone before the request took effect.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(1);
    ::close(fds[0]);
    std::vector<std::uint8_t> text;
    try {
      text = EncodeFoldResult(RunFold(module, settings, folds[k]));
    } catch (const std::exception& error) {
      text = EncodeFoldResult(Failed(error.what()));
    }
    WriteAll(fds[1], text);
    ::close(fds[1]);
    // No destructors or exit handlers: they belong to the parent.
    ::_exit(0);
  }
  ::close(fds[1]);
  return Worker{pid, fds[0], k, {}};
}

// Reads what the worker wrote; true once it has finished, with its result.
bool ReadWorker(Worker& worker, FoldResult& result) {
  char buffer[1 << 16];
  const ssize_t n = ::read(worker.fd, buffer, sizeof(buffer));
  if (n < 0 && errno == EINTR) return false;
  if (n > 0) {
    worker.output.insert(worker.output.end(), buffer, buffer + n);
    return false;
  }
  ::close(worker.fd);
  int status = 0;
  while (::waitpid(worker.pid, &status, 0) < 0 && errno == EINTR) {
  }
  try {
    result = DecodeFoldResult(worker.output);
  } catch (const std::exception&) {
    result = Failed("the fold gave no result: " + ExitDescription(status));
  }
  return true;
}

}  // namespace

std::vector<FoldResult> RunFolds(const Module& module,
                                 const FoldSettings& settings,
                                 const std::vector<FoldData>& folds,
                                 int jobs) {
  std::vector<FoldResult> results(folds.size());
  if (jobs <= 1 || folds.size() <= 1) {
    for (size_t k = 0; k < folds.size(); ++k)
      results[k] = RunFold(module, settings, folds[k]);
    return results;
  }
  std::vector<Worker> active;
  size_t next = 0;
  while (next < folds.size() || !active.empty()) {
    while (active.size() < static_cast<size_t>(jobs) && next < folds.size()) {
      const size_t k = next++;
      if (auto worker = StartWorker(module, settings, folds, k, results[k]))
        active.push_back(std::move(*worker));
    }
    if (active.empty()) continue;
    std::vector<pollfd> wanted;
    for (const Worker& worker : active)
      wanted.push_back({worker.fd, POLLIN, 0});
    if (::poll(wanted.data(), wanted.size(), -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (size_t i = wanted.size(); i-- > 0;)
      if (wanted[i].revents != 0 &&
          ReadWorker(active[i], results[active[i].fold]))
        active.erase(active.begin() + static_cast<long>(i));
  }
  return results;
}

}  // namespace Korva::Cli
