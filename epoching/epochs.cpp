#include "epoching/epochs.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <stdexcept>

#include "data/dataset.h"
#include "epoching/band_pass.h"
#include "epoching/quality.h"
#include "epoching/resample.h"
#include "platform/huge_pages.h"
#include "text/number_text.h"

namespace Korva::Epoching {
namespace {

using Data::DataError;

using Epoch = PlannedEpoch;

// One run as it is cut: its epochs, the bounds of its continuous parts (0,
// its breaks, its length), and what its checks find.
struct RunPlan {
  std::vector<Epoch> epochs;
  std::vector<long long> parts;
  RunQuality quality;
};

// The recipe with its channels (by default the first run's EEG channels
// that no run marks as not EEG, as a channels file marks a bad one; the
// others into `leftOut`) and its rate filled in.
Recipe Resolve(const Recipe& recipe,
               const std::vector<std::unique_ptr<Recording::Recording>>& runs,
               std::vector<std::string>& leftOut) {
  const Recording::Recording& first = *runs[0];
  const auto other = [&](const std::string& name) {
    return std::any_of(runs.begin(), runs.end(), [&](const auto& run) {
      const auto& channels = run->Channels();
      return std::any_of(channels.begin(), channels.end(), [&](auto& c) {
        return c.name == name && !c.eeg;
      });
    });
  };
  Recipe used = recipe;
  if (used.channels.empty())
    for (const Recording::Channel& channel : first.Channels())
      (channel.eeg && !other(channel.name) ? used.channels : leftOut)
          .push_back(channel.name);
  if (used.resampleHz) used.samplingRate = *used.resampleHz;
  if (used.samplingRate == 0) used.samplingRate = first.SamplingRate();
  return used;
}

// A note when `run` is cut at the recipe's rate, which its time stamps hold
// within their uncertainty (CheckRecording lets no other rate pass).
std::vector<std::string> RateNotes(const Recipe& r,
                                   const Recording::Recording& run) {
  if (run.SamplingRate() == r.samplingRate) return {};
  char text[160];
  std::snprintf(text,
                sizeof(text),
                "read at %.9g Hz, the recipe's rate, which its time stamps "
                "hold: they give %.6g Hz, give or take %.2g",
                r.samplingRate,
                run.SamplingRate(),
                run.SamplingRateUncertainty());
  return {text};
}

std::vector<long long> Parts(const Recording::Recording& run) {
  std::vector<long long> parts = {0};
  for (const Recording::Break& b : run.Breaks())
    if (b.sample > parts.back() && b.sample < run.Samples())
      parts.push_back(b.sample);
  parts.push_back(run.Samples());
  return parts;
}

// The runs at the recipe's rate: those at another rate resampled to it
// (kept in `resampled`) when the recipe resamples, the others as they are.
std::vector<Recording::Recording*> AtRecipeRate(
    const std::vector<std::unique_ptr<Recording::Recording>>& runs,
    const Recipe& r,
    std::vector<std::unique_ptr<Recording::Recording>>& resampled) {
  std::vector<Recording::Recording*> at;
  for (const auto& run : runs) {
    if (r.resampleHz && !RateHolds(*run, *r.resampleHz)) {
      resampled.push_back(Resampled(*run, *r.resampleHz));
      at.push_back(resampled.back().get());
    } else {
      at.push_back(run.get());
    }
  }
  return at;
}

std::optional<BandPass> MakeFilter(const Recipe& r, const std::string& file) {
  if (!r.band) return std::nullopt;
  if (!(r.band->high < r.samplingRate / 2))
    throw DataError(
        file + ": sampled at " + Text::FormatDouble(r.samplingRate) +
        " Hz, too slow for a band up to " + Text::FormatDouble(r.band->high) +
        " Hz (it must stay below half the sampling rate)");
  return BandPass(r.filterOrder, r.band->low, r.band->high, r.samplingRate);
}

// The first and the last sample (excluded) an epoch reads, relative to its
// event: the window, and the baseline when there is one.
std::pair<long long, long long> Reach(const Window& w) {
  if (w.baselineLength == 0) return {w.start, w.start + w.length};
  return {std::min(w.start, w.baselineStart),
          std::max(w.start + w.length, w.baselineStart + w.baselineLength)};
}

// Whether samples [from, to) lie in one part of `parts` that the filter
// (which needs more than `padding` samples) can run on.
bool WithinOnePart(const std::vector<long long>& parts,
                   long long from,
                   long long to,
                   long long padding) {
  const auto next = std::upper_bound(parts.begin(), parts.end(), from);
  return next != parts.begin() && next != parts.end() && to <= *next &&
         *next - *(next - 1) > padding;
}

// The epochs of `planned` that lie wholly in one part of `run` the filter
// can run on; the others are counted as outside or at breaks. `inside` (may
// be null) receives a mark for each planned one.
RunPlan Inside(const std::vector<Epoch>& planned,
               const Recording::Recording& run,
               const Window& w,
               long long padding,
               RunReport& report,
               std::vector<char>* inside) {
  RunPlan plan;
  plan.parts = Parts(run);
  const auto [first, last] = Reach(w);
  for (const Epoch& epoch : planned) {
    const long long from = epoch.onset + first, to = epoch.onset + last;
    bool in = false;
    if (from < 0 || to > run.Samples())
      ++report.outside.Of(epoch.label);
    else if (!WithinOnePart(plan.parts, from, to, padding))
      ++report.atBreaks.Of(epoch.label);
    else
      in = true;
    if (inside) inside->push_back(in);
    if (in) plan.epochs.push_back(epoch);
  }
  plan.quality.zeroOnset.assign(plan.epochs.size(), 1);
  return plan;
}

// The events of `run` that make epochs, in onset order; counts the others.
// Without `labelled` the events of both lists are unlabelled.
std::vector<Epoch> PlanRun(const Recording::Recording& run,
                           const Recipe& r,
                           bool labelled,
                           RunReport& report) {
  // By code and alias: 0 neither, 1 target, 2 other.
  std::map<std::pair<std::string, std::string>, int> kind;
  std::vector<Epoch> epochs;
  for (const Recording::Event& event : run.Events()) {
    auto [it, added] = kind.emplace(std::pair(event.code, event.alias), 0);
    if (added)
      it->second = EventIn(r.targets, event)      ? 1
                   : EventIn(r.nonTargets, event) ? 2
                                                  : 0;
    if (it->second == 0)
      ++report.skipped[event.code];
    else
      epochs.push_back(
          {event.sample, labelled ? (it->second == 1 ? 1 : -1) : 0});
  }
  return epochs;
}

// True when some event of `run` is of the target list.
bool HasTargets(const Recording::Recording& run, const Recipe& r) {
  const auto& events = run.Events();
  return std::any_of(events.begin(), events.end(), [&](const auto& event) {
    return EventIn(r.targets, event);
  });
}

std::vector<int> ChannelIndices(const Recording::Recording& run,
                                const std::vector<std::string>& names) {
  std::vector<int> indices;
  const std::vector<Recording::Channel>& channels = run.Channels();
  for (const std::string& name : names) {
    const auto it = std::find_if(
        channels.begin(), channels.end(), [&](const Recording::Channel& c) {
          return c.name == name;
        });
    indices.push_back(static_cast<int>(it - channels.begin()));
  }
  return indices;
}

// x[0] + ... + x[n - 1], in four running sums: a single sum waits for
// each addition to finish before the next.
double Sum(const double* x, long long n) {
  double s0 = 0, s1 = 0, s2 = 0, s3 = 0;
  long long i = 0;
  for (; i + 4 <= n; i += 4) {
    s0 += x[i];
    s1 += x[i + 1];
    s2 += x[i + 2];
    s3 += x[i + 3];
  }
  for (; i < n; ++i) s0 += x[i];
  return (s0 + s1) + (s2 + s3);
}

// Where the epochs of one run go, and how they are cut.
struct Cut {
  const Window& w;
  int bins;
  std::optional<double> reject;
  Data::Dataset& data;
  std::vector<char>& rejected;  // one per row
};

// Step 3 for channel `c` (filtered samples x) of the epochs of one run,
// whose rows start at `row`.
void CutChannel(const Cut& cut,
                const double* x,
                int c,
                const std::vector<Epoch>& epochs,
                size_t row) {
  const Window& w = cut.w;
  for (const Epoch& epoch : epochs) {
    const double baseline =
        w.baselineLength > 0
            ? Sum(x + epoch.onset + w.baselineStart, w.baselineLength) /
                  w.baselineLength
            : 0.0;
    const double* s = x + epoch.onset + w.start;
    double* out = cut.data.X.data() + row * cut.data.cols + c * cut.bins;
    for (int bin = 0; bin < cut.bins; ++bin, s += w.binWidth)
      out[bin] = Sum(s, w.binWidth) / w.binWidth - baseline;
    if (cut.reject) {
      const double* window = x + epoch.onset + w.start;
      const auto [low, high] = std::minmax_element(window, window + w.length);
      if (*high - *low > *cut.reject) cut.rejected[row] = 1;
    }
    ++row;
  }
}

// The samples of up to two channels and the average reference, kept from
// one run to the next: a buffer first written maps its pages then, which
// on a virtual machine costs microseconds a page.
struct Buffers {
  std::vector<double> mean, x[2];

  // Room for `n` samples in the buffers used: two channels (one when there
  // is one), or with the average reference one channel and the mean; each
  // buffer's pages mapped in one call.
  void Prepare(size_t n, bool average, bool two) {
    for (std::vector<double>* buffer : {&x[0], average ? &mean : &x[1]}) {
      if (buffer->capacity() >= n || (buffer == &x[1] && !two)) continue;
      std::vector<double>().swap(*buffer);
      buffer->reserve(n);
      AdviseHugePages(buffer->data(), n * sizeof(double));
    }
  }
};

// Channel `name` as read (`x`) into the checks of `plan`.
void Check(const std::string& name,
           const std::vector<double>& x,
           RunPlan& plan) {
  plan.quality.channels.push_back(
      Summarize(name, x.data(), static_cast<long long>(x.size())));
  for (size_t e = 0; e < plan.epochs.size(); ++e)
    plan.quality.zeroOnset[e] &= x[plan.epochs[e].onset] == 0;
}

// Step 2 for `lanes` channels of `x`, each continuous part on its own.
void Filter(const BandPass& filter,
            const std::vector<long long>& parts,
            std::vector<double>* x,
            int lanes) {
  for (size_t p = 0; p + 1 < parts.size(); ++p) {
    const long long from = parts[p], n = parts[p + 1] - from;
    if (n <= filter.PadLength()) continue;  // its epochs were dropped
    if (lanes == 2)
      filter.Apply(x[0].data() + from, x[1].data() + from, n);
    else
      filter.Apply(x[0].data() + from, n);
  }
}

// Steps 1 and 2 for every chosen channel of one run, then step 3.
void CutRun(Recording::Recording& run,
            const Recipe& r,
            const std::optional<BandPass>& filter,
            const Cut& cut,
            RunPlan& plan,
            size_t row,
            Buffers& buffers) {
  const std::vector<Epoch>& epochs = plan.epochs;
  const std::vector<int> channels = ChannelIndices(run, r.channels);
  const int C = static_cast<int>(channels.size());
  buffers.Prepare(static_cast<size_t>(run.Samples()),
                  r.reference == Reference::kAverage,
                  C > 1);
  std::vector<double>& mean = buffers.mean;
  std::vector<double>* x = buffers.x;
  mean.clear();
  if (r.reference == Reference::kAverage) {
    mean.assign(run.Samples(), 0.0);
    for (int c : channels) {
      run.ReadChannel(c, x[0]);
      for (size_t i = 0; i < mean.size(); ++i) mean[i] += x[0][i];
    }
    for (double& m : mean) m /= C;
  }
  // Two channels at a time filter faster; with the mean held too, one.
  const int step = mean.empty() ? 2 : 1;
  for (int c = 0; c < C; c += step) {
    const int lanes = std::min(step, C - c);
    for (int l = 0; l < lanes; ++l) {
      run.ReadChannel(channels[c + l], x[l]);
      Check(r.channels[c + l], x[l], plan);
      for (size_t i = 0; i < mean.size(); ++i) x[l][i] -= mean[i];
    }
    if (filter) Filter(*filter, plan.parts, x, lanes);
    for (int l = 0; l < lanes; ++l)
      CutChannel(cut, x[l].data(), c + l, epochs, row);
  }
}

std::vector<std::string> FeatureNames(const std::vector<std::string>& channels,
                                      int bins) {
  const size_t width = std::max<size_t>(2, std::to_string(bins).size());
  std::vector<std::string> names;
  for (const std::string& channel : channels)
    for (int b = 1; b <= bins; ++b) {
      std::string number = std::to_string(b);
      names.push_back(channel + "_" + std::string(width - number.size(), '0') +
                      number);
    }
  return names;
}

// DataError naming the run and the feature when a feature is not finite:
// finite samples so large that their filtered values or their means
// overflow. A table of such features would be refused by training.
void RefuseNonFinite(const Data::Dataset& data,
                     const std::vector<Recording::Recording*>& runs) {
  const auto bad = std::find_if(data.X.begin(), data.X.end(), [](double v) {
    return !std::isfinite(v);
  });
  if (bad == data.X.end()) return;
  const size_t at = static_cast<size_t>(bad - data.X.begin());
  const size_t row = at / data.cols, col = at % data.cols;
  throw DataError(runs[data.groups[row]]->Path() + ": feature " +
                  data.names[col] + " of epoch " + std::to_string(row + 1) +
                  " is not a finite number: the channel's samples are too "
                  "large to filter and average");
}

// The rows not rejected, in a matrix of their own size.
void DropRejected(Data::Dataset& data, const std::vector<char>& rejected) {
  const int kept =
      static_cast<int>(std::count(rejected.begin(), rejected.end(), char{0}));
  if (kept == data.rows) return;
  Data::Values X(kept, data.cols);
  std::vector<double> labels;
  std::vector<int> groups;
  for (int row = 0, to = 0; row < data.rows; ++row) {
    if (rejected[row]) continue;
    std::memcpy(X.data() + static_cast<size_t>(to++) * data.cols,
                data.X.data() + static_cast<size_t>(row) * data.cols,
                sizeof(double) * data.cols);
    labels.push_back(data.labels[row]);
    groups.push_back(data.groups[row]);
  }
  data.X = std::move(X);
  data.rows = kept;
  data.labels = std::move(labels);
  data.groups = std::move(groups);
}

// The runs as they are cut (`at`, `runs` at the recipe's rate) and their
// band-pass, if any.
struct Prepared {
  std::vector<std::unique_ptr<Recording::Recording>> resampled;
  std::vector<Recording::Recording*> at;
  std::optional<BandPass> filter;
  long long padding = 0;
};

// DataError for runs whose files state different rates, cut by a recipe
// that takes the first one's: the option that combines them is named.
void RefuseMixedRates(
    const std::vector<std::unique_ptr<Recording::Recording>>& runs) {
  const Recording::Recording& first = *runs[0];
  for (const auto& run : runs) {
    if (RateHolds(*run, first.SamplingRate()) ||
        run->SamplingRateSource() != Recording::RateSource::kFile ||
        first.SamplingRateSource() != Recording::RateSource::kFile)
      continue;
    const std::string hz = Text::FormatDouble(first.SamplingRate());
    throw DataError(run->Path() + ": sampled at " +
                    Text::FormatDouble(run->SamplingRate()) + " Hz, and " +
                    first.Path() + " at " + hz +
                    " Hz: --resample " + hz +
                    " reads recordings of different rates at one");
  }
}

// Products and sums that saturate: a hostile count gives a huge need, never
// a wrapped small one.
std::uint64_t Times(std::uint64_t a, std::uint64_t b) {
  return a != 0 && b > UINT64_MAX / a ? UINT64_MAX : a * b;
}
std::uint64_t Plus(std::uint64_t a, std::uint64_t b) {
  return b > UINT64_MAX - a ? UINT64_MAX : a + b;
}

// "cutting r.vhdr into 946 epochs of 160 features (reading channels of
// 30720 samples)": the work whose memory is checked.
std::string CutText(
    const std::vector<Recording::Recording*>& runs,
    size_t rows,
    size_t cols,
    long long samples) {
  return "cutting " +
         (runs.size() == 1 ? runs[0]->Path()
                           : std::to_string(runs.size()) + " recordings") +
         " into " + std::to_string(rows) + " epochs of " +
         std::to_string(cols) + " features (reading channels of " +
         std::to_string(samples) + " samples)";
}

// Checks the recipe and the runs (`events` as CheckRecording), and fills
// `out` with the recipe as used, the window and a report per run that
// names it and the rate it is read at.
Prepared Prepare(const std::vector<std::unique_ptr<Recording::Recording>>& runs,
                 const Recipe& recipe,
                 EventCheck events,
                 ExtractReport& out) {
  if (std::string why = CheckRecipe(recipe, events == EventCheck::kBothLists);
      !why.empty())
    throw DataError("recipe: " + why);
  if (runs.empty()) throw DataError("no recording to cut epochs from");
  out = ExtractReport{};
  out.recipe = Resolve(recipe, runs, out.leftOut);
  const Recipe& r = out.recipe;
  if (recipe.samplingRate == 0 && !recipe.resampleHz) RefuseMixedRates(runs);
  Prepared p;
  p.at = AtRecipeRate(runs, r, p.resampled);
  for (const auto* run : p.at) CheckRecording(r, *run, events);
  out.window = EpochWindow(r, r.samplingRate);
  p.filter = MakeFilter(r, runs[0]->Path());
  p.padding = p.filter ? p.filter->PadLength() : 0;
  for (size_t k = 0; k < p.at.size(); ++k) {
    const Recording::Recording& run = *p.at[k];
    if (p.filter && run.Samples() <= p.padding)
      throw DataError(run.Path() + ": " + std::to_string(run.Samples()) +
                      " samples are too few for the band-pass filter, which "
                      "needs more than " +
                      std::to_string(p.padding));
    RunReport& report = out.runs.emplace_back();
    report.path = run.Path();
    report.notes = RateNotes(r, run);
    if (p.at[k] != runs[k].get()) report.resampledFrom = runs[k]->SamplingRate();
  }
  return p;
}

// An empty data set for `rows` epochs of the recipe `r` of `runs`, once
// `checkMemory` (may be empty) has heard what the cut will take.
Data::Dataset MakeRoom(
    size_t rows,
    const Recipe& r,
    const std::vector<Recording::Recording*>& runs,
    const MemoryCheck& checkMemory) {
  const size_t cols = r.channels.size() * r.bins;
  if (rows == 0) throw DataError("no event has its whole window in its file");
  if (rows > INT_MAX || cols > INT_MAX || rows * cols > (size_t{1} << 40))
    throw DataError("too many epochs: " + std::to_string(rows) + " x " +
                    std::to_string(cols) + " features");
  if (checkMemory) {
    long long samples = 0;
    for (const auto& run : runs) samples = std::max(samples, run->Samples());
    checkMemory(ExtractionMemory(rows, cols, samples, r),
                CutText(runs, rows, cols, samples));
  }
  Data::Dataset data;
  data.rows = static_cast<int>(rows);
  data.cols = static_cast<int>(cols);
  data.X = Data::Values(data.rows, data.cols);
  data.names = FeatureNames(r.channels, r.bins);
  data.hasLabels = true;
  data.groupColumn = "run";
  for (size_t k = 0; k < runs.size(); ++k)
    data.groupNames.push_back(std::to_string(k + 1));
  return data;
}

// Step 3 for the epochs of every run (`plans`, inside their runs), the
// rejected ones dropped and each run's checks worded; `rejected` receives a
// mark per planned row.
Data::Dataset CutPlans(const Prepared& p,
                       std::vector<RunPlan>& plans,
                       ExtractReport& out,
                       std::vector<char>& rejected,
                       const MemoryCheck& checkMemory) {
  const Recipe& r = out.recipe;
  size_t rows = 0;
  for (const RunPlan& plan : plans) rows += plan.epochs.size();
  Data::Dataset data = MakeRoom(rows, r, p.at, checkMemory);
  rejected.assign(rows, 0);
  const Cut cut{out.window, r.bins, r.rejectMicrovolts, data, rejected};
  size_t row = 0;
  Buffers buffers;
  for (size_t k = 0; k < plans.size(); ++k) {
    CutRun(*p.at[k], r, p.filter, cut, plans[k], row, buffers);
    RunReport& run = out.runs[k];
    for (const Epoch& epoch : plans[k].epochs) {
      data.labels.push_back(epoch.label);
      data.hasLabels = data.hasLabels && epoch.label != 0;
      data.groups.push_back(static_cast<int>(k));
      ++(rejected[row++] ? run.rejected : run.kept).Of(epoch.label);
    }
    const ClassCounts& b = run.atBreaks;
    run.warnings = QualityWarnings(plans[k].quality,
                                   p.at[k]->Breaks(),
                                   b.target + b.nonTarget + b.unlabelled);
  }
  RefuseNonFinite(data, p.at);
  DropRejected(data, rejected);
  if (data.rows == 0)
    throw DataError("every epoch was rejected: none has a peak-to-peak of " +
                    Text::FormatDouble(*r.rejectMicrovolts) +
                    " uV or less on all its channels");
  if (!data.hasLabels) data.labels.clear();
  return data;
}

// `planned` epochs of `run` at the rate of `at`, the run as it is cut: their
// onsets moved as Resampled moves its events.
std::vector<Epoch> AtRateOf(std::vector<Epoch> planned,
                            const Recording::Recording& run,
                            const Recording::Recording& at) {
  if (&run == &at) return planned;
  long long up = 1, down = 1;
  ResampleFactors(run.SamplingRate(), at.SamplingRate(), up, down);
  const Resampler resampler(up, down);
  for (Epoch& epoch : planned) epoch.onset = resampler.MovedSample(epoch.onset);
  return planned;
}

}  // namespace

long long& ClassCounts::Of(int label) {
  return label > 0 ? target : label < 0 ? nonTarget : unlabelled;
}

std::uint64_t ExtractionMemory(std::uint64_t rows,
                               std::uint64_t cols,
                               std::uint64_t samples,
                               const Recipe& recipe) {
  const std::uint64_t copies = recipe.rejectMicrovolts ? 2 : 1;
  const std::uint64_t buffers =
      recipe.reference == Reference::kAverage || recipe.channels.size() > 1
          ? 2
          : 1;
  const std::uint64_t features = Times(Times(rows, cols), 8 * copies);
  return Plus(Plus(features, Times(rows, sizeof(double) + sizeof(int) + 1)),
              Times(Times(buffers, samples), sizeof(double)));
}

Data::Dataset ExtractEpochs(
    const std::vector<std::unique_ptr<Recording::Recording>>& runs,
    const Recipe& recipe,
    ExtractReport* report,
    bool labelsRequired,
    const MemoryCheck& checkMemory) {
  ExtractReport local;
  ExtractReport& out = report ? *report : local;
  const Prepared p = Prepare(
      runs,
      recipe,
      labelsRequired ? EventCheck::kBothLists : EventCheck::kTargetsOptional,
      out);
  std::vector<RunPlan> plans;
  for (size_t k = 0; k < runs.size(); ++k) {
    RunReport& run = out.runs[k];
    const Recording::Recording& at = *p.at[k];
    run.labelled = labelsRequired || HasTargets(at, out.recipe);
    plans.push_back(Inside(PlanRun(at, out.recipe, run.labelled, run),
                           at,
                           out.window,
                           p.padding,
                           run,
                           nullptr));
  }
  std::vector<char> rejected;
  return CutPlans(p, plans, out, rejected, checkMemory);
}

Data::Dataset CutEpochs(
    const std::vector<std::unique_ptr<Recording::Recording>>& runs,
    const Recipe& recipe,
    const std::vector<std::vector<PlannedEpoch>>& planned,
    ExtractReport* report,
    std::vector<char>* kept,
    const MemoryCheck& checkMemory) {
  ExtractReport local;
  ExtractReport& out = report ? *report : local;
  const Prepared p = Prepare(runs, recipe, EventCheck::kNone, out);
  if (planned.size() != runs.size())
    throw std::invalid_argument("CutEpochs: one plan per run");
  std::vector<RunPlan> plans;
  std::vector<char> inside;
  for (size_t k = 0; k < runs.size(); ++k)
    plans.push_back(Inside(AtRateOf(planned[k], *runs[k], *p.at[k]),
                           *p.at[k],
                           out.window,
                           p.padding,
                           out.runs[k],
                           &inside));
  std::vector<char> rejected;
  Data::Dataset data = CutPlans(p, plans, out, rejected, checkMemory);
  if (kept) {
    kept->clear();
    size_t row = 0;
    // `rejected` has a mark for the epochs inside their runs only.
    for (char in : inside) kept->push_back(in && !rejected[row++]);
  }
  return data;
}

}  // namespace Korva::Epoching
