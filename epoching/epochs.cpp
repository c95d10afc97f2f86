#include "epoching/epochs.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <optional>
#include <stdexcept>

#include "data/dataset.h"
#include "epoching/band_pass.h"
#include "platform/huge_pages.h"
#include "text/number_text.h"

namespace Korva::Epoching {
namespace {

using Data::DataError;

using Epoch = PlannedEpoch;

Recipe Resolve(const Recipe& recipe, const Recording::Recording& first) {
  Recipe used = recipe;
  if (used.channels.empty())
    for (const Recording::Channel& channel : first.Channels())
      if (channel.eeg) used.channels.push_back(channel.name);
  if (used.samplingRate == 0) used.samplingRate = first.SamplingRate();
  return used;
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

// The epochs of `planned` that lie wholly in `run`; the others are counted
// as outside. `inside` (may be null) receives a mark for each planned one.
std::vector<Epoch> Inside(const std::vector<Epoch>& planned,
                          const Recording::Recording& run,
                          const Window& w,
                          RunReport& report,
                          std::vector<char>* inside) {
  const auto [first, last] = Reach(w);
  std::vector<Epoch> epochs;
  for (const Epoch& epoch : planned) {
    const bool in =
        epoch.onset + first >= 0 && epoch.onset + last <= run.Samples();
    if (inside) inside->push_back(in);
    if (in)
      epochs.push_back(epoch);
    else
      ++report.outside.Of(epoch.label);
  }
  return epochs;
}

// The events of `run` that make epochs, in onset order; counts the others.
// Without `labelled` the events of both lists are unlabelled.
std::vector<Epoch> PlanRun(const Recording::Recording& run,
                           const Recipe& r,
                           bool labelled,
                           RunReport& report) {
  std::map<std::string, int> kind;  // by code: 0 neither, 1 target, 2 other
  auto matches = [](const std::vector<std::string>& list,
                    const std::string& code) {
    return std::any_of(list.begin(), list.end(), [&](const std::string& entry) {
      return EventMatches(entry, code);
    });
  };
  std::vector<Epoch> epochs;
  for (const Recording::Event& event : run.Events()) {
    auto [it, added] = kind.emplace(event.code, 0);
    if (added)
      it->second = matches(r.targets, event.code)      ? 1
                   : matches(r.nonTargets, event.code) ? 2
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
  return std::any_of(
      run.Events().begin(), run.Events().end(), [&](const auto& event) {
        return std::any_of(
            r.targets.begin(), r.targets.end(), [&](const std::string& entry) {
              return EventMatches(entry, event.code);
            });
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

  // Room for `n` samples in the buffers used: two channels, or with the
  // average reference one channel and the mean; each buffer's pages mapped
  // in one call.
  void Prepare(size_t n, bool average) {
    for (std::vector<double>* buffer : {&x[0], average ? &mean : &x[1]}) {
      if (buffer->capacity() >= n) continue;
      std::vector<double>().swap(*buffer);
      buffer->reserve(n);
      AdviseHugePages(buffer->data(), n * sizeof(double));
    }
  }
};

// Steps 1 and 2 for every chosen channel of one run, then step 3.
void CutRun(Recording::Recording& run,
            const Recipe& r,
            const std::optional<BandPass>& filter,
            const Cut& cut,
            const std::vector<Epoch>& epochs,
            size_t row,
            Buffers& buffers) {
  const std::vector<int> channels = ChannelIndices(run, r.channels);
  const int C = static_cast<int>(channels.size());
  buffers.Prepare(static_cast<size_t>(run.Samples()),
                  r.reference == Reference::kAverage);
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
      for (size_t i = 0; i < mean.size(); ++i) x[l][i] -= mean[i];
    }
    const long long n = run.Samples();
    if (filter && lanes == 2) filter->Apply(x[0].data(), x[1].data(), n);
    if (filter && lanes == 1) filter->Apply(x[0].data(), n);
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

// Checks the recipe and the runs (`events` as CheckRecording), and fills
// `out` with the recipe as used and the window; the band-pass, if any.
std::optional<BandPass> Prepare(
    const std::vector<std::unique_ptr<Recording::Recording>>& runs,
    const Recipe& recipe,
    EventCheck events,
    ExtractReport& out) {
  if (std::string why = CheckRecipe(recipe, events != EventCheck::kNone);
      !why.empty())
    throw DataError("recipe: " + why);
  if (runs.empty()) throw DataError("no recording to cut epochs from");
  out = ExtractReport{Resolve(recipe, *runs[0]), {}, {}};
  const Recipe& r = out.recipe;
  for (const auto& run : runs) CheckRecording(r, *run, events);
  out.window = EpochWindow(r, r.samplingRate);
  std::optional<BandPass> filter = MakeFilter(r, runs[0]->Path());
  for (const auto& run : runs) {
    if (filter && run->Samples() <= filter->PadLength())
      throw DataError(run->Path() + ": " + std::to_string(run->Samples()) +
                      " samples are too few for the band-pass filter, which "
                      "needs more than " +
                      std::to_string(filter->PadLength()));
    out.runs.push_back({run->Path(), {}, {}, {}, {}});
  }
  return filter;
}

// An empty data set for `rows` epochs of the recipe `r` of `runs` runs.
Data::Dataset MakeRoom(size_t rows, const Recipe& r, size_t runs) {
  const size_t cols = r.channels.size() * r.bins;
  if (rows == 0) throw DataError("no event has its whole window in its file");
  if (rows > INT_MAX || cols > INT_MAX || rows * cols > (size_t{1} << 40))
    throw DataError("too many epochs: " + std::to_string(rows) + " x " +
                    std::to_string(cols) + " features");
  Data::Dataset data;
  data.rows = static_cast<int>(rows);
  data.cols = static_cast<int>(cols);
  data.X = Data::Values(data.rows, data.cols);
  data.names = FeatureNames(r.channels, r.bins);
  data.hasLabels = true;
  data.groupColumn = "run";
  for (size_t k = 0; k < runs; ++k)
    data.groupNames.push_back(std::to_string(k + 1));
  return data;
}

// Step 3 for the epochs of every run (`plans`, inside their runs), the
// rejected ones dropped; `rejected` receives a mark per planned row.
Data::Dataset CutPlans(
    const std::vector<std::unique_ptr<Recording::Recording>>& runs,
    const std::optional<BandPass>& filter,
    const std::vector<std::vector<Epoch>>& plans,
    ExtractReport& out,
    std::vector<char>& rejected) {
  const Recipe& r = out.recipe;
  size_t rows = 0;
  for (const std::vector<Epoch>& plan : plans) rows += plan.size();
  Data::Dataset data = MakeRoom(rows, r, runs.size());
  rejected.assign(rows, 0);
  const Cut cut{out.window, r.bins, r.rejectMicrovolts, data, rejected};
  size_t row = 0;
  Buffers buffers;
  for (size_t k = 0; k < runs.size(); ++k) {
    CutRun(*runs[k], r, filter, cut, plans[k], row, buffers);
    for (const Epoch& epoch : plans[k]) {
      data.labels.push_back(epoch.label);
      data.hasLabels = data.hasLabels && epoch.label != 0;
      data.groups.push_back(static_cast<int>(k));
      ++(rejected[row] ? out.runs[k].rejected : out.runs[k].kept)
            .Of(epoch.label);
      ++row;
    }
  }
  DropRejected(data, rejected);
  if (data.rows == 0)
    throw DataError("every epoch was rejected: none has a peak-to-peak of " +
                    Text::FormatDouble(*r.rejectMicrovolts) +
                    " uV or less on all its channels");
  if (!data.hasLabels) data.labels.clear();
  return data;
}

}  // namespace

long long& ClassCounts::Of(int label) {
  return label > 0 ? target : label < 0 ? nonTarget : unlabelled;
}

Data::Dataset ExtractEpochs(
    const std::vector<std::unique_ptr<Recording::Recording>>& runs,
    const Recipe& recipe,
    ExtractReport* report,
    bool labelsRequired) {
  ExtractReport local;
  ExtractReport& out = report ? *report : local;
  const std::optional<BandPass> filter = Prepare(
      runs,
      recipe,
      labelsRequired ? EventCheck::kBothLists : EventCheck::kTargetsOptional,
      out);
  std::vector<std::vector<Epoch>> plans;
  for (size_t k = 0; k < runs.size(); ++k) {
    RunReport& run = out.runs[k];
    run.labelled = labelsRequired || HasTargets(*runs[k], out.recipe);
    plans.push_back(Inside(PlanRun(*runs[k], out.recipe, run.labelled, run),
                           *runs[k],
                           out.window,
                           run,
                           nullptr));
  }
  std::vector<char> rejected;
  return CutPlans(runs, filter, plans, out, rejected);
}

Data::Dataset CutEpochs(
    const std::vector<std::unique_ptr<Recording::Recording>>& runs,
    const Recipe& recipe,
    const std::vector<std::vector<PlannedEpoch>>& planned,
    ExtractReport* report,
    std::vector<char>* kept) {
  ExtractReport local;
  ExtractReport& out = report ? *report : local;
  const std::optional<BandPass> filter =
      Prepare(runs, recipe, EventCheck::kNone, out);
  if (planned.size() != runs.size())
    throw std::invalid_argument("CutEpochs: one plan per run");
  std::vector<std::vector<Epoch>> plans;
  std::vector<char> inside;
  for (size_t k = 0; k < runs.size(); ++k)
    plans.push_back(
        Inside(planned[k], *runs[k], out.window, out.runs[k], &inside));
  std::vector<char> rejected;
  Data::Dataset data = CutPlans(runs, filter, plans, out, rejected);
  if (kept) {
    kept->clear();
    size_t row = 0;
    // `rejected` has a mark for the epochs inside their runs only.
    for (char in : inside) kept->push_back(in && !rejected[row++]);
  }
  return data;
}

}  // namespace Korva::Epoching
