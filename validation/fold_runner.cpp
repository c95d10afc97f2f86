#include "validation/fold_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <iostream>
#include <optional>
#include <vector>

#include "korva/hostkit/memory_budget.h"
#include "korva/hostkit/module_path.h"
#include "korva/hostkit/shared_rows.h"
#include "korva/hostkit/trained_model.h"
#include "korva/hostkit/training.h"
#include "validation/balanced_threshold.h"

namespace Korva::Validation {

namespace {

FoldResult Failed(const std::string& why, bool lost = false) {
  FoldResult fold;
  fold.failure = why;
  fold.lost = lost;
  return fold;
}

void WriteAll(int fd, const void* data, size_t size) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd, bytes + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

// A worker process: its results come in on `fd`, task indexes go out on
// `tasks` (-1 once closed: no more tasks).
struct Worker {
  pid_t pid;
  int fd;
  int tasks;
  std::optional<size_t> task;  // the task it runs
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

HostKit::MatrixView View(const Data::Dataset& data) {
  return {data.X.data(), data.rows, data.cols};
}

// The fold's test rows: in its source set, or its own copy.
HostKit::MatrixView TestRows(const FoldData& fold) {
  if (fold.source == nullptr) return View(fold.test);
  return {fold.source->X.data(),
          static_cast<int>(fold.testRows.size()),
          fold.source->cols,
          fold.testRows.data()};
}

}  // namespace

int FoldResult::SelectedCount() const {
  int count = 0;
  for (bool flag : selected) count += flag;
  return count;
}

Error FoldError(const FoldResult& r, const std::string& where) {
  return Error(
      r.threw ? ErrorKind::kTrainingException : ErrorKind::kTrainingFailed,
      where + ": " + r.failure,
      r.threw ? std::nullopt : r.result);
}

namespace {

// A new classifier with the settings applied, its threshold chosen on
// `train` when they ask for the balanced one.
ClassifierHandle Configured(const Module& module,
                            const FoldSettings& settings,
                            const std::function<Data::Dataset&()>& train) {
  ClassifierHandle classifier = HostKit::NewClassifier(module);
  HostKit::ApplySettings(*classifier, settings.parameters);
  if (settings.balancedThreshold) {
    HostKit::SettingsChange chosen;
    chosen.threshold =
        ChooseBalancedCut(module, settings.parameters, train(), 1);
    HostKit::ApplySettings(*classifier, chosen);
  }
  return classifier;
}

// The fold's result from its trained classifier. The training rows are
// scored only for decisions in Range mode, whose cut lies between their
// class means.
FoldResult Scored(ClassifierHandle classifier,
                  HostKit::TrainingRun run,
                  const std::function<Data::Dataset&()>& train,
                  const HostKit::MatrixView& test) {
  FoldResult fold;
  fold.result = run.result;
  fold.seconds = run.seconds;
  if (!run.Succeeded()) {
    fold.failure = HostKit::TrainingFailure(run);
    fold.threw = !run.result;
    return fold;
  }
  const bool range = classifier->GetThresholdMode() == ClassifierBase::RangeMode;
  const Data::Dataset* rows = range ? &train() : nullptr;
  const HostKit::TrainedModel model(
      std::move(classifier),
      std::move(run),
      rows ? View(*rows) : HostKit::MatrixView{nullptr, 0, test.cols},
      rows ? rows->labels.data() : nullptr);
  fold.selected = model.Selected();
  fold.weights = model.SavedWeights();
  fold.scores = model.Score(test);
  fold.cut = model.Cut();
  return fold;
}

// TrainAndScore on test rows given as a view.
FoldResult TrainAndScoreRows(const Module& module,
                             const FoldSettings& settings,
                             Data::Dataset& train,
                             const HostKit::MatrixView& test) {
  try {
    const std::function<Data::Dataset&()> rows = [&train]() -> Data::Dataset& {
      return train;
    };
    ClassifierHandle classifier = Configured(module, settings, rows);
    HostKit::TrainingRun run = HostKit::Train(*classifier,
                                              train.X.Matrix(),
                                              train.labels.data(),
                                              train.names,
                                              nullptr);
    return Scored(std::move(classifier), std::move(run), rows, test);
  } catch (const std::exception& error) {
    return Failed(error.what());
  }
}

}  // namespace

FoldResult TrainAndScore(const Module& module,
                         const FoldSettings& settings,
                         Data::Dataset& train,
                         const Data::Dataset& test) {
  return TrainAndScoreRows(module, settings, train, View(test));
}

namespace {

// What the tasks of one run read.
struct Tasks {
  const Module& module;
  const std::vector<FoldSettings>& settings;
  const std::vector<FoldData>& folds;
  const std::vector<FoldTask>& tasks;
  HostKit::SharedRows* shared;  // the folds' source set, when opened
};

// The shared trainings of the task's settings on its fold; a result is
// unset where the module left the training to the caller.
std::vector<std::optional<FoldResult>> TrainShared(
    const Tasks& run,
    const FoldData& fold,
    const FoldTask& task,
    const std::function<Data::Dataset&()>& train) {
  std::vector<std::optional<FoldResult>> done(task.settings.size());
  std::vector<ClassifierHandle> classifiers;
  std::vector<ClassifierBase*> trained;
  std::vector<size_t> places;
  for (size_t i = 0; i < task.settings.size(); ++i) {
    try {
      classifiers.push_back(
          Configured(run.module, run.settings[task.settings[i]], train));
      trained.push_back(classifiers.back().get());
      places.push_back(i);
    } catch (const std::exception& error) {
      done[i] = Failed(error.what());
    }
  }
  std::vector<std::optional<HostKit::TrainingRun>> runs =
      run.shared->Train(fold.sourceRows, trained, fold.source->names);
  for (size_t j = 0; j < runs.size(); ++j) {
    if (!runs[j]) continue;
    try {
      done[places[j]] = Scored(std::move(classifiers[j]),
                               std::move(*runs[j]),
                               train,
                               TestRows(fold));
    } catch (const std::exception& error) {
      done[places[j]] = Failed(error.what());
    }
  }
  return done;
}

// Runs task t in this process: its fold's calibration set made once (when
// a training needs it), each of the task's settings trained on it, through
// the shared trainings where the fold has them.
std::vector<FoldResult> RunTask(const Tasks& run, size_t t) {
  const FoldTask& task = run.tasks[t];
  const FoldData& fold = run.folds[task.fold];
  std::vector<FoldResult> results;
  try {
    std::optional<Data::Dataset> made;
    const std::function<Data::Dataset&()> train = [&]() -> Data::Dataset& {
      if (!made) made = fold.makeTrain();
      return *made;
    };
    std::vector<std::optional<FoldResult>> done(task.settings.size());
    if (run.shared && fold.source && !fold.sourceRows.empty())
      done = TrainShared(run, fold, task, train);
    for (size_t i = 0; i < task.settings.size(); ++i)
      results.push_back(done[i]
                            ? std::move(*done[i])
                            : TrainAndScoreRows(run.module,
                                                run.settings[task.settings[i]],
                                                train(),
                                                TestRows(fold)));
  } catch (const std::exception& error) {
    results.assign(task.settings.size(), Failed(error.what()));
  }
  return results;
}

// The set every fold trains on rows of, or null.
const Data::Dataset* SharedSource(const std::vector<FoldData>& folds) {
  const Data::Dataset* source = folds.empty() ? nullptr : folds[0].source;
  for (const FoldData& fold : folds)
    if (fold.source != source || fold.sourceRows.empty()) return nullptr;
  return source;
}

// Whether the folds' settings train together through the module's shared
// trainings.
bool SharesFolds(const Module& module, const std::vector<FoldData>& folds) {
  return module.SubsetTraining() != nullptr &&
         HostKit::SharedTrainingsWanted() && SharedSource(folds) != nullptr;
}

// The folds' source set opened for shared trainings: when every fold trains
// on rows of one set and the module offers them; with the products of the
// folds' held-out rows kept when they fit beside the `atOnce` trainings of
// `settings` settings each.
std::unique_ptr<HostKit::SharedRows> OpenShared(
    const Module& module,
    const std::vector<FoldData>& folds,
    int atOnce,
    int settings) {
  const Data::Dataset* source = SharedSource(folds);
  if (source == nullptr) return nullptr;
  std::vector<std::vector<int>> subsets;
  int largest = 0;
  for (const FoldData& fold : folds) {
    subsets.push_back(fold.sourceRows);
    largest = std::max(largest, static_cast<int>(fold.sourceRows.size()));
  }
  try {
    return HostKit::SharedRows::Open(
        module, View(*source), source->labels.data(), subsets,
        HostKit::BlockProductsFit(largest, source->cols, atOnce, settings,
                                  static_cast<int>(folds.size())));
  } catch (const std::exception&) {
    return nullptr;  // each fold then trains alone
  }
}

// Reads exactly `size` bytes; false at the end of the input or on an error.
bool ReadExactly(int fd, void* to, size_t size) {
  auto* bytes = static_cast<std::uint8_t*>(to);
  while (size > 0) {
    const ssize_t n = ::read(fd, bytes, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// A worker's life: it reads task indexes from `tasks` until their end, and
// for each writes the task's results (EncodeFoldResults) to `results`,
// after their length. No destructors or exit handlers run: they belong to
// the parent.
[[noreturn]] void WorkerMain(const Tasks& run, int tasks, int results) {
  std::uint64_t t = 0;
  while (ReadExactly(tasks, &t, sizeof t)) {
    std::vector<std::uint8_t> text;
    try {
      text = EncodeFoldResults(RunTask(run, t));
    } catch (const std::exception& error) {
      text = EncodeFoldResults(std::vector<FoldResult>(
          run.tasks[t].settings.size(), Failed(error.what())));
    }
    const std::uint64_t size = text.size();
    WriteAll(results, &size, sizeof size);
    WriteAll(results, text.data(), text.size());
  }
  ::_exit(0);
}

// Starts a worker process (WorkerMain); nullopt, with errno set, when none
// can start. The new worker closes its copies of the `others`' pipes: a
// worker holding another's task pipe open would keep that one from ever
// seeing the end of its tasks.
std::optional<Worker> StartWorker(const Tasks& run,
                                  const std::vector<Worker>& others) {
  int tasks[2], results[2];
  if (::pipe2(tasks, O_CLOEXEC) != 0) return std::nullopt;
  if (::pipe2(results, O_CLOEXEC) != 0) {
    const int error = errno;
    ::close(tasks[0]);
    ::close(tasks[1]);
    errno = error;
    return std::nullopt;
  }
  std::cout.flush();
  std::cerr.flush();
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid < 0) {
    const int error = errno;
    for (int fd : {tasks[0], tasks[1], results[0], results[1]}) ::close(fd);
    errno = error;
    return std::nullopt;
  }
  if (pid == 0) {
    // The worker ends with korva, also when korva is killed; the parent may
    // have gone before the request took effect.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(1);
    for (const Worker& other : others) {
      ::close(other.fd);
      if (other.tasks >= 0) ::close(other.tasks);
    }
    ::close(tasks[1]);
    ::close(results[0]);
    WorkerMain(run, tasks[0], results[1]);
  }
  ::close(tasks[0]);
  ::close(results[1]);
  return Worker{pid, results[0], tasks[1], std::nullopt, {}};
}

// Hands task t to the worker. A worker that has died cannot take it: the
// write fails (SIGPIPE is held back for it, and taken back), and the task
// fails with how the worker ended once its end is read (ReadWorker).
void Assign(Worker& worker, size_t t) {
  const std::uint64_t index = t;
  sigset_t pipe, old;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe, &old);
  ssize_t n;
  do {
    n = ::write(worker.tasks, &index, sizeof index);
  } while (n < 0 && errno == EINTR);
  if (n < 0 && errno == EPIPE) {
    const timespec now{0, 0};
    while (sigtimedwait(&pipe, nullptr, &now) < 0 && errno == EINTR) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  worker.task = t;
}

// The results of the worker's task once its whole frame has arrived, the
// frame then taken off its output; nullopt before.
std::optional<std::vector<FoldResult>> TakeResults(Worker& worker,
                                                   size_t count) {
  std::uint64_t size = 0;
  if (worker.output.size() < sizeof size) return std::nullopt;
  std::memcpy(&size, worker.output.data(), sizeof size);
  if (worker.output.size() - sizeof size < size) return std::nullopt;
  const auto begin = worker.output.begin() + sizeof size;
  const auto end = begin + static_cast<long>(size);
  std::vector<FoldResult> results;
  try {
    results = DecodeFoldResults(std::vector<std::uint8_t>(begin, end));
  } catch (const std::exception&) {
    results.clear();
  }
  worker.output.erase(worker.output.begin(), end);
  if (results.size() != count)
    results.assign(count,
                   Failed("the fold gave no result: its worker's reply is not "
                          "one result per setting",
                          true));
  return results;
}

// Reads what the worker wrote. Stores the results of its task in `results`
// once they are whole (and frees the worker for another task); true once
// the worker has ended, its task (if any) then failed with how it ended.
bool ReadWorker(Worker& worker,
                const std::vector<FoldTask>& tasks,
                std::vector<std::vector<FoldResult>>& results) {
  char buffer[1 << 16];
  const ssize_t n = ::read(worker.fd, buffer, sizeof(buffer));
  if (n < 0 && errno == EINTR) return false;
  if (n > 0) {
    worker.output.insert(worker.output.end(), buffer, buffer + n);
    if (worker.task) {
      const size_t count = tasks[*worker.task].settings.size();
      if (auto done = TakeResults(worker, count)) {
        results[*worker.task] = std::move(*done);
        worker.task.reset();
      }
    }
    return false;
  }
  ::close(worker.fd);
  if (worker.tasks >= 0) ::close(worker.tasks);
  int status = 0;
  while (::waitpid(worker.pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (worker.task)
    results[*worker.task].assign(
        tasks[*worker.task].settings.size(),
        Failed("the fold gave no result: " + ExitDescription(status), true));
  return true;
}

// Runs the tasks in `jobs` worker processes. Each worker takes task after
// task, the next one in order as it is free: a worker's start (the fork,
// the pages it copies on write, its first allocations) is paid once per
// worker, not per task. A worker that dies fails its task; another takes
// its place.
void RunInWorkers(const Tasks& run,
                  int jobs,
                  std::vector<std::vector<FoldResult>>& results) {
  std::vector<Worker> active;
  size_t next = 0;
  while (next < run.tasks.size() || !active.empty()) {
    for (Worker& worker : active) {
      if (worker.task || worker.tasks < 0) continue;
      if (next < run.tasks.size()) {
        Assign(worker, next++);
      } else {
        ::close(worker.tasks);
        worker.tasks = -1;
      }
    }
    while (active.size() < static_cast<size_t>(jobs) &&
           next < run.tasks.size()) {
      const size_t t = next++;
      if (auto worker = StartWorker(run, active)) {
        Assign(*worker, t);
        active.push_back(std::move(*worker));
      } else {
        results[t].assign(run.tasks[t].settings.size(),
                          Failed(std::string("cannot start a worker: ") +
                                     std::strerror(errno),
                                 true));
      }
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
      if (wanted[i].revents != 0 && ReadWorker(active[i], run.tasks, results))
        active.erase(active.begin() + static_cast<long>(i));
  }
}

}  // namespace

std::vector<std::vector<FoldResult>> RunTasks(
    const Module& module,
    const std::vector<FoldSettings>& settings,
    const std::vector<FoldData>& folds,
    const std::vector<FoldTask>& tasks,
    int jobs) {
  std::vector<std::vector<FoldResult>> results(tasks.size());
  size_t settingsAtOnce = 1;
  for (const FoldTask& task : tasks)
    settingsAtOnce = std::max(settingsAtOnce, task.settings.size());
  const int atOnce =
      static_cast<int>(std::min<size_t>(std::max(jobs, 1), tasks.size()));
  const std::unique_ptr<HostKit::SharedRows> shared =
      OpenShared(module, folds, atOnce, static_cast<int>(settingsAtOnce));
  const Tasks run{module, settings, folds, tasks, shared.get()};
  // With shared products a task of one setting is only its course of steps,
  // a few milliseconds, which a worker's start (the fork, and the pages it
  // then copies on write) costs as well; in this process the tasks also
  // reuse one product block.
  const bool inProcess =
      jobs <= 1 || tasks.size() <= 1 || (shared && settingsAtOnce == 1);
  if (inProcess) {
    for (size_t t = 0; t < tasks.size(); ++t) results[t] = RunTask(run, t);
    return results;
  }
  RunInWorkers(run, jobs, results);
  return results;
}

std::vector<FoldTask> GridTasks(size_t folds,
                                size_t settings,
                                int jobs,
                                bool together) {
  const size_t J = static_cast<size_t>(std::max(jobs, 1));
  size_t shares = std::min(std::max<size_t>((J + folds - 1) / folds, 1),
                           std::max<size_t>(settings, 1));
  // Apart: the fewest shares per fold that give every job the same number
  // of tasks; one when the folds alone do, and at most one per setting.
  // Together, the settings share their fold's product and the start of
  // their courses, which each share would repeat: a fold is split only to
  // give every job a task, into runs of neighbouring settings, which part
  // latest.
  for (size_t p = shares; !together && p <= std::min(J, settings); ++p)
    if ((folds * p) % J == 0) {
      shares = p;
      break;
    }
  std::vector<FoldTask> tasks;
  for (size_t k = 0; k < folds; ++k)
    for (size_t share = 0; share < shares; ++share) {
      FoldTask task{k, {}};
      if (together) {
        for (size_t s = share * settings / shares;
             s < (share + 1) * settings / shares; ++s)
          task.settings.push_back(s);
      } else {
        for (size_t s = share; s < settings; s += shares)
          task.settings.push_back(s);
      }
      tasks.push_back(std::move(task));
    }
  return tasks;
}

std::vector<std::vector<FoldResult>> RunGrid(
    const Module& module,
    const std::vector<FoldSettings>& settings,
    const std::vector<FoldData>& folds,
    int jobs) {
  const std::vector<FoldTask> tasks = GridTasks(
      folds.size(), settings.size(), jobs, SharesFolds(module, folds));
  const std::vector<std::vector<FoldResult>> done =
      RunTasks(module, settings, folds, tasks, jobs);
  std::vector<std::vector<FoldResult>> results(
      settings.size(), std::vector<FoldResult>(folds.size()));
  for (size_t t = 0; t < tasks.size(); ++t)
    for (size_t i = 0; i < tasks[t].settings.size(); ++i)
      results[tasks[t].settings[i]][tasks[t].fold] = done[t][i];
  return results;
}

std::vector<FoldResult> RunFolds(const Module& module,
                                 const FoldSettings& settings,
                                 const std::vector<FoldData>& folds,
                                 int jobs) {
  return RunGrid(module, {settings}, folds, jobs)[0];
}

}  // namespace Korva::Validation
