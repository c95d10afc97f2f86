#include "stepwise/shared_training.h"

#include <newmat/newmat.h>

#include <algorithm>
#include <cstddef>
#include <list>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "korva/classifier_progress.h"
#include "plugin/dozod.h"
#include "stepwise/shared_choice.h"
#include "stepwise/step_calc.h"
#include "stepwise/step_choice.h"
#include "stepwise/stepwise_engine.h"
#include "stepwise/training_course.h"

namespace Korva {
namespace {

// Keeps what a host's progress object would receive.
class Recorder : public ClassifierProgress {
 public:
  void AddMessage(const std::string& message) override {
    texts.push_back(message);
  }
  std::vector<std::string> texts;
};

// One setting's training within a run.
struct Member {
  int training = 0;  // its place among the caller's trainings
  DOZOD* classifier = nullptr;
  std::unique_ptr<Recorder> progress;
  std::unique_ptr<std::list<std::string>> messages;
  std::unique_ptr<TrainingCourse> course;
  bool ended = false;
  bool declined = false;  // left to the host's Train2
  int result = 0;
};

// The exact step's fit for one node's flags, made when a setting there
// needs it and shared by all of them.
struct ExactFit {
  bool made = false;
  bool threw = false;
  int status = 0;
  StepFit fit;
};

// The exact step's fits on the subset's rows, read in place with the
// arithmetic of DoTrain's StepCalc, kept by selection: a fit reads the rows
// alone, never the product, so a rerun of the subset's courses meets the
// same selections and the same fits.
class ExactRows {
 public:
  explicit ExactRows(const TrainingRows& rows) : rows_(rows) {}
  void Fit(const FeatureFlags& in, ExactFit& fit) {
    if (fit.made) return;
    const std::vector<bool> key(in.Data(), in.Data() + in.Count());
    auto kept = fits_.find(key);
    if (kept == fits_.end()) kept = fits_.emplace(key, Make(in)).first;
    fit = kept->second;
  }

 private:
  ExactFit Make(const FeatureFlags& in) {
    ExactFit fit;
    fit.made = true;
    if (y_.Nrows() != rows_.count) {
      y_.ReSize(rows_.count);
      for (int i = 0; i < rows_.count; ++i) y_.element(i) = rows_.Label(i);
    }
    try {
      fit.status = RegressionStep(rows_, y_, in, fit.fit);
    } catch (...) {
      // The host's own training throws the same, and says so.
      fit.threw = true;
    }
    return fit;
  }

  TrainingRows rows_;
  NEWMAT::ColumnVector y_;
  std::map<std::vector<bool>, ExactFit> fits_;
};

bool SameSelection(const FeatureFlags& a, const FeatureFlags& b) {
  return a.Count() == b.Count() &&
         std::equal(a.Data(), a.Data() + a.Count(), b.Data());
}

// How one setting goes on from a node: the change it chose, that change's
// p-value, and whether the exact step's fit gave them.
struct Choice {
  int nextstep = -1;
  double p = 0.0;
  bool fromFit = false;
};

// One run of every setting's training on the subset's product as it stands.
class Run {
 public:
  Run(const SubsetProduct& product,
      ExactRows& exact,
      std::vector<Member>& members)
      : product_(product),
        exact_(exact),
        members_(members),
        margins_(!product.Exact()),
        wanted_(product.Product().q - 1, 0) {}

  // Every member's training to its end; the columns the run rests on.
  std::vector<char> Go();

 private:
  struct Branch {
    std::unique_ptr<StepwiseEngine> engine;
    std::vector<int> group;
    int step;
  };
  void Follow(Branch branch);
  std::vector<Choice> Choose(StepwiseEngine& engine,
                             const std::vector<int>& group,
                             int status,
                             ExactFit& fit);
  Choice FromFit(const Member& member, const ExactFit& fit) const;
  std::vector<int> Advance(StepwiseEngine& engine,
                           const std::vector<int>& group,
                           int step,
                           const std::vector<Choice>& choices,
                           const ExactFit& fit);
  int End(Member& m,
          TrainingCourse::Next next,
          StepwiseEngine& engine,
          const Choice& choice,
          const ExactFit& fit);
  void Fail(Member& m, int result);
  const FeatureFlags& Flags(const std::vector<int>& group) const {
    return members_[group[0]].course->Selection();
  }

  const SubsetProduct& product_;
  ExactRows& exact_;
  std::vector<Member>& members_;
  const bool margins_;  // A_D: collect the columns the run rests on
  std::vector<char> wanted_;
  std::vector<Branch> waiting_;
};

std::vector<char> Run::Go() {
  auto engine = std::make_unique<StepwiseEngine>();
  engine->Start(product_.Product());
  std::vector<int> everyone;
  for (size_t m = 0; m < members_.size(); ++m)
    if (!members_[m].ended) everyone.push_back(static_cast<int>(m));
  if (!everyone.empty()) waiting_.push_back({std::move(engine), everyone, 0});
  while (!waiting_.empty()) {
    Branch next = std::move(waiting_.back());
    waiting_.pop_back();
    Follow(std::move(next));
  }
  return wanted_;
}

// The members of a group share their selection and the engine; where their
// choices part, each new selection continues on a copy of the engine, the
// first on the engine itself.
void Run::Follow(Branch branch) {
  StepwiseEngine& engine = *branch.engine;
  std::vector<int> group = std::move(branch.group);
  for (int step = branch.step; !group.empty(); ++step) {
    const int status = engine.Evaluate(Flags(group), margins_);
    if (status == kStatusRejected) {
      for (int m : group) Fail(members_[m], status);
      return;
    }
    if (margins_)
      for (int c = 0; c < engine.Features(); ++c)
        if (!engine.InModel(c) && engine.NearRefusal(c)) wanted_[c] = 1;
    ExactFit fit;
    const std::vector<Choice> choices = Choose(engine, group, status, fit);
    std::vector<int> going = Advance(engine, group, step, choices, fit);
    group.clear();
    // Members whose selections now agree go on together.
    while (!going.empty()) {
      std::vector<int> same, other;
      const FeatureFlags& first = members_[going[0]].course->Selection();
      for (int m : going)
        (SameSelection(first, members_[m].course->Selection()) ? same : other)
            .push_back(m);
      if (group.empty())
        group = std::move(same);
      else
        waiting_.push_back({engine.Branch(), std::move(same), step + 1});
      going = std::move(other);
    }
  }
}

std::vector<Choice> Run::Choose(StepwiseEngine& engine,
                                const std::vector<int>& group,
                                int status,
                                ExactFit& fit) {
  std::vector<Choice> choices(group.size());
  if (status != kStatusOk) {
    exact_.Fit(Flags(group), fit);
    for (size_t j = 0; j < group.size(); ++j)
      choices[j] = FromFit(members_[group[j]], fit);
    return choices;
  }
  std::vector<double> pEnters, pRemoves;
  const auto add = [](std::vector<double>& values, double value) {
    if (std::find(values.begin(), values.end(), value) == values.end())
      values.push_back(value);
  };
  for (int m : group) {
    add(pEnters, members_[m].classifier->GetPEnter());
    add(pRemoves, members_[m].classifier->GetPRemove());
  }
  const NodeChoice node(engine, pEnters, pRemoves);
  const std::vector<double>& P = node.P();
  for (size_t j = 0; j < group.size(); ++j) {
    const DOZOD& c = *members_[group[j]].classifier;
    const int pick = ChooseStep(
        engine.Features(),
        [&engine](int i) { return engine.InModel(i); },
        [&P](int i) { return P[i]; },
        c.GetPEnter(),
        c.GetPRemove());
    if (margins_) MarkChoice(engine, node, c.GetPEnter(), pick, wanted_);
    if (engine.Ambiguous(P, c.GetPEnter(), c.GetPRemove())) {
      exact_.Fit(Flags(group), fit);
      choices[j] = FromFit(members_[group[j]], fit);
    } else {
      choices[j] = {pick, pick >= 0 ? P[pick] : 0.0, false};
    }
  }
  return choices;
}

Choice Run::FromFit(const Member& member, const ExactFit& fit) const {
  Choice choice{-1, 0.0, true};
  if (fit.threw || fit.status != kStatusOk) return choice;
  member.classifier->FindNextStep(
      member.course->Selection(), fit.fit.P, choice.nextstep);
  if (choice.nextstep >= 0) choice.p = fit.fit.P.element(choice.nextstep);
  return choice;
}

// Each member's iteration as DoTrain's would end: its intercept, its
// message, and its end or its flag flipped. The members that go on.
std::vector<int> Run::Advance(StepwiseEngine& engine,
                              const std::vector<int>& group,
                              int step,
                              const std::vector<Choice>& choices,
                              const ExactFit& fit) {
  std::vector<int> going;
  for (size_t j = 0; j < group.size(); ++j) {
    Member& m = members_[group[j]];
    const Choice& choice = choices[j];
    if (choice.fromFit && fit.threw) {
      m.ended = m.declined = true;
      continue;
    }
    if (choice.fromFit && fit.status != kStatusOk) {
      Fail(m, fit.status);
      continue;
    }
    m.course->SetIntercept(choice.fromFit ? fit.fit.b0 : engine.Intercept());
    if (margins_ && choice.nextstep >= 0) wanted_[choice.nextstep] = 1;
    const TrainingCourse::Next next =
        m.course->Advance(step, choice.nextstep, choice.p);
    if (next == TrainingCourse::Next::kGoOn)
      going.push_back(group[j]);
    else
      m.result = End(m, next, engine, choice, fit);
  }
  return going;
}

// The end of a member's training, with the coefficients (and for the
// repeated-feature exit the p-values) of this iteration's source.
int Run::End(Member& m,
             TrainingCourse::Next next,
             StepwiseEngine& engine,
             const Choice& choice,
             const ExactFit& fit) {
  m.ended = true;
  if (choice.fromFit)
    return next == TrainingCourse::Next::kFinish
               ? m.course->Finish(fit.fit.B)
               : m.course->StopRepeated(fit.fit.B, fit.fit.P);
  const int p = engine.Features();
  NEWMAT::ColumnVector B(p);
  for (int i = 0; i < p; ++i)
    B.element(i) = engine.InModel(i) ? engine.Coefficient(i) : 0.0;
  if (next == TrainingCourse::Next::kFinish) return m.course->Finish(B);
  // Nothing qualified at the first iteration: DoTrain prints every p-value,
  // which A_D does not hold to the last bit.
  if (!m.course->PrintsEveryP()) return m.course->StopRepeated(B, B);
  if (margins_) {
    m.declined = true;
    return 0;
  }
  NEWMAT::ColumnVector P(p);
  for (int i = 0; i < p; ++i) P.element(i) = engine.PValue(i);
  return m.course->StopRepeated(B, P);
}

void Run::Fail(Member& m, int result) {
  m.course->ReportFailure(result);
  m.ended = true;
  m.result = result;
}

// The members for one run: every DOZOD of the trainings, its course begun.
std::vector<Member> Begin(SubsetTraining* trainings,
                          int count,
                          const ClassMeans& means,
                          int rows,
                          int cols) {
  std::vector<Member> members;
  for (int t = 0; t < count; ++t) {
    auto* classifier = dynamic_cast<DOZOD*>(trainings[t].classifier);
    if (classifier == nullptr) continue;
    Member m;
    m.training = t;
    m.classifier = classifier;
    m.progress = std::make_unique<Recorder>();
    m.messages = std::make_unique<std::list<std::string>>();
    m.course = std::make_unique<TrainingCourse>(
        *classifier, means, rows, cols, m.progress.get(), *m.messages);
    members.push_back(std::move(m));
  }
  return members;
}

}  // namespace

void TrainSubset(const RowSet& set,
                 std::vector<int> subset,
                 SubsetTraining* trainings,
                 int count) {
  const int p = set.Cols();
  std::vector<TrainingCourse::Kept> kept;
  for (int t = 0; t < count; ++t)
    if (auto* c = dynamic_cast<DOZOD*>(trainings[t].classifier))
      kept.push_back(TrainingCourse::Keep(*c));
  if (kept.empty()) return;
  const ClassMeans* keptMeans = set.MeansWithout(subset);
  SubsetProduct product(set, std::move(subset));
  const TrainingRows& rows = product.Rows();
  const ClassMeans means = keptMeans != nullptr ? *keptMeans : MeansOf(rows, p);
  ExactRows exact(rows);
  std::vector<int> exactColumns;
  for (int attempt = 0;; ++attempt) {
    std::vector<Member> members = Begin(trainings, count, means, rows.count, p);
    const std::vector<char> wanted = Run(product, exact, members).Go();
    bool covered = true;
    for (int c = 0; c < p; ++c) {
      if (!wanted[c] || product.ExactColumn(c)) continue;
      covered = false;
      exactColumns.push_back(c);
    }
    if (covered) {
      for (size_t j = 0; j < members.size(); ++j) {
        Member& m = members[j];
        SubsetTraining& t = trainings[m.training];
        if (m.declined) {
          TrainingCourse::Restore(*m.classifier, kept[j]);
          continue;
        }
        t.trained = true;
        t.result = m.result;
        t.progress = std::move(m.progress->texts);
        t.messages = std::move(*m.messages);
      }
      return;
    }
    std::sort(exactColumns.begin(), exactColumns.end());
    if (attempt >= 1 || 2 * exactColumns.size() > static_cast<size_t>(p))
      product.FormExact();
    else
      product.MakeExact(exactColumns);
  }
}

}  // namespace Korva
