// Simulated P300 epochs.
//
// Model of one epoch (channel c, time t in ms at the centre of sample k):
//   v(c, t) = VEP(c, t) + target * (N2(c, t) + P3(c, t))
//           + sum_j L(c, j) * s_bg * z(j, k) + d_c + g_c * (t / 800 - 1/2) + e
// 1. VEP: a visual response in every epoch, over occipital sites (weight o_c):
//    o_c * (1.5 * G(t; 110, 20) - 2 * G(t; 170, 30)), G a Gaussian bump.
// 2. Targets add a negativity over occipital sites, -2.5 * a * o_c *
//    G(t; 240 + j/2, 35), and the P300 over parietal sites (weight p_c),
//    6 * a * p_c * G(t; 380 + j, 75); a (amplitude) and j (latency jitter) vary
//    per epoch.
// 3. Background EEG: independent sources z(j, .) following an AR(1) process in
//    time, z_k = rho z_{k-1} + sqrt(1 - rho^2) n, rho = exp(-dt / 60 ms), mixed
//    across channels by L, the Cholesky factor of the spatial correlation
//    C(i, j) = 0.2 + 0.8 exp(-|r_i - r_j|^2 / (2 * 0.4^2)) of the scalp
//    positions r.
// 4. A per-epoch offset d_c and slope g_c (slow drift) and white amplifier
//    noise e.
// Values are rounded to 0.001 microvolt.
//
// Every random number comes from Random (data/random.h), so the same seed gives
// the same data with any standard library.
#include "data/p300_generator.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

#include "data/random.h"
#include "text/number_text.h"

namespace Korva::Data {

using Text::FormatDouble;

namespace {

struct Channel {
  const char* name;
  double x;          // left (-1) to right (+1)
  double y;          // back (-1) to front (+1)
  double parietal;   // weight of the P300
  double occipital;  // weight of the visual response and the N2
};

// clang-format off
constexpr Channel kChannels[kMaxGeneratorChannels] = {
    {"Fz",   0.00,  0.50, 0.35, 0.05}, {"Cz",   0.00,  0.00, 0.75, 0.05},
    {"Pz",   0.00, -0.50, 1.00, 0.30}, {"Oz",   0.00, -0.95, 0.45, 1.00},
    {"P3",  -0.40, -0.50, 0.85, 0.35}, {"P4",   0.40, -0.50, 0.85, 0.35},
    {"PO7", -0.65, -0.75, 0.55, 0.90}, {"PO8",  0.65, -0.75, 0.55, 0.90},
    {"F3",  -0.40,  0.50, 0.25, 0.05}, {"F4",   0.40,  0.50, 0.25, 0.05},
    {"C3",  -0.50,  0.00, 0.55, 0.05}, {"C4",   0.50,  0.00, 0.55, 0.05},
    {"CP1", -0.25, -0.25, 0.85, 0.10}, {"CP2",  0.25, -0.25, 0.85, 0.10},
    {"O1",  -0.30, -0.95, 0.40, 0.95}, {"O2",   0.30, -0.95, 0.40, 0.95},
    {"FC1", -0.25,  0.25, 0.50, 0.05}, {"FC2",  0.25,  0.25, 0.50, 0.05},
    {"CP5", -0.75, -0.25, 0.50, 0.15}, {"CP6",  0.75, -0.25, 0.50, 0.15},
    {"P7",  -0.80, -0.55, 0.45, 0.60}, {"P8",   0.80, -0.55, 0.45, 0.60},
    {"PO3", -0.30, -0.75, 0.70, 0.70}, {"PO4",  0.30, -0.75, 0.70, 0.70},
    {"T7",  -0.95,  0.00, 0.20, 0.10}, {"T8",   0.95,  0.00, 0.20, 0.10},
    {"FC5", -0.75,  0.25, 0.25, 0.05}, {"FC6",  0.75,  0.25, 0.25, 0.05},
    {"F7",  -0.80,  0.55, 0.15, 0.05}, {"F8",   0.80,  0.55, 0.15, 0.05},
    {"Fp1", -0.30,  0.95, 0.10, 0.00}, {"Fp2",  0.30,  0.95, 0.10, 0.00},
};
// clang-format on

constexpr double kBackgroundMicrovolts = 4.0;
constexpr double kAmplifierMicrovolts = 0.5;
constexpr double kOffsetMicrovolts = 2.0;
constexpr double kDriftMicrovolts = 1.5;
constexpr double kNoiseTimeConstantMs = 60.0;
constexpr double kSessionDriftMicrovolts = 10.0;
constexpr double kSessionDriftTimeConstantMs = 2000.0;

double Bump(double t, double centre, double width) {
  const double d = (t - centre) / width;
  return std::exp(-0.5 * d * d);
}

// Steps 1 and 2 at t ms after a flash: the visual response, and for a
// target the N2 and the P300 of amplitude a and latency jitter j.
double Response(const Channel& ch, double t, bool target, double a, double j) {
  double v = ch.occipital * (1.5 * Bump(t, 110, 20) - 2.0 * Bump(t, 170, 30));
  if (target) {
    v += -2.5 * a * ch.occipital * Bump(t, 240 + j / 2, 35);
    v += 6.0 * a * ch.parietal * Bump(t, 380 + j, 75);
  }
  return v;
}

// Lower Cholesky factor L (n x n, row-major) of the spatial correlation of the
// first n channels.
std::vector<double> SpatialMixing(int n) {
  std::vector<double> C(static_cast<size_t>(n) * n);
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      const double dx = kChannels[i].x - kChannels[j].x;
      const double dy = kChannels[i].y - kChannels[j].y;
      C[i * n + j] = 0.2 + 0.8 * std::exp(-(dx * dx + dy * dy) / (2 * 0.16));
    }
  }
  std::vector<double> L(C.size(), 0.0);
  for (int j = 0; j < n; ++j) {
    double d = C[j * n + j];
    for (int k = 0; k < j; ++k) d -= L[j * n + k] * L[j * n + k];
    L[j * n + j] = std::sqrt(d);
    for (int i = j + 1; i < n; ++i) {
      double s = C[i * n + j];
      for (int k = 0; k < j; ++k) s -= L[i * n + k] * L[j * n + k];
      L[i * n + j] = s / L[j * n + j];
    }
  }
  return L;
}

std::string SampleName(const char* channel, int sample, int width) {
  std::string number = std::to_string(sample);
  if (static_cast<int>(number.size()) < width)
    number.insert(0, width - number.size(), '0');
  return std::string(channel) + "_" + number;
}

// CHANNEL_SAMPLE for the S samples of each of the first C channels, the
// 1-based sample numbers padded to the width of the largest (at least two
// digits).
std::vector<std::string> FeatureNames(int C, int S) {
  std::vector<std::string> names;
  const int width = std::max(2, static_cast<int>(std::to_string(S).size()));
  for (int c = 0; c < C; ++c)
    for (int k = 0; k < S; ++k)
      names.push_back(SampleName(kChannels[c].name, k + 1, width));
  return names;
}

// E labels: round(E * ratio) targets (+1) at positions a partial
// Fisher-Yates shuffle picks, the rest -1.
std::vector<double> DrawLabels(int E, double ratio, Random& random) {
  const int targets =
      std::clamp(static_cast<int>(std::lround(E * ratio)), 0, E);
  std::vector<int> order(E);
  for (int e = 0; e < E; ++e) order[e] = e;
  std::vector<double> labels(E, -1.0);
  for (int i = 0; i < targets; ++i) {
    const int pick = i + static_cast<int>(random.Below(E - i));
    std::swap(order[i], order[pick]);
    labels[order[i]] = 1.0;
  }
  return labels;
}

// The size of the epochs and the spatial mixing of their background.
struct Shape {
  int C;                  // channels
  int S;                  // samples per channel
  double dt;              // ms per sample
  std::vector<double> L;  // SpatialMixing(C)
};

// What the channels of one epoch share: its class, the amplitude a and
// latency jitter j of its response (step 2), and the background sources z
// (step 3), S samples of each of C sources in turn.
struct Epoch {
  bool target = false;
  double a = 1.0;
  double j = 0.0;
  std::vector<double> z;
};

// The amplitude a and latency jitter j of one response (step 2).
void DrawAmplitudeAndJitter(Random& random, double& a, double& j) {
  a = std::clamp(1.0 + 0.25 * random.Normal(), 0.3, 2.0);
  j = std::clamp(30.0 * random.Normal(), -90.0, 90.0);
}

// Draws a, j and the sources of the next epoch.
void DrawEpoch(const Shape& shape, bool target, Random& random, Epoch& epoch) {
  const int C = shape.C, S = shape.S;
  const double rho = std::exp(-shape.dt / kNoiseTimeConstantMs);
  const double innovation = std::sqrt(1.0 - rho * rho);
  epoch.target = target;
  DrawAmplitudeAndJitter(random, epoch.a, epoch.j);
  epoch.z.resize(static_cast<size_t>(C) * S);
  for (int src = 0; src < C; ++src) {
    double previous = random.Normal();
    epoch.z[src * S] = previous;
    for (int k = 1; k < S; ++k) {
      previous = rho * previous + innovation * random.Normal();
      epoch.z[src * S + k] = previous;
    }
  }
}

// The S values of channel c in the epoch (steps 1 to 4, with this channel's
// offset, slope and amplifier noise drawn here), rounded, into `out`.
void ChannelSamples(const Shape& shape,
                    const Epoch& epoch,
                    int c,
                    Random& random,
                    double* out) {
  const Channel& ch = kChannels[c];
  const int C = shape.C, S = shape.S;
  const double offset = kOffsetMicrovolts * random.Normal();
  const double slope = kDriftMicrovolts * random.Normal();
  for (int k = 0; k < S; ++k) {
    const double t = (k + 0.5) * shape.dt;
    double v = Response(ch, t, epoch.target, epoch.a, epoch.j);
    double background = 0.0;
    for (int src = 0; src <= c; ++src)
      background += shape.L[c * C + src] * epoch.z[src * S + k];
    v += kBackgroundMicrovolts * background;
    v += offset + slope * (t / kEpochLengthMs - 0.5);
    v += kAmplifierMicrovolts * random.Normal();
    // Adding 0.0 turns a rounded -0 into 0, so no "-0" reaches a file.
    out[k] = std::round(v * 1000.0) / 1000.0 + 0.0;
  }
}

}  // namespace

const std::vector<std::string>& GeneratorChannelNames() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> all;
    for (const Channel& channel : kChannels) all.emplace_back(channel.name);
    return all;
  }();
  return names;
}

namespace {

// Why `what` ("the set"), `values` doubles held in memory, cannot be made:
// they would take more than half of this machine's memory, which leaves too
// little for the training that follows. "" when they fit.
std::string MoreThanHalfOfMemory(double values, const char* what) {
  const double memory =
      static_cast<double>(::sysconf(_SC_PHYS_PAGES)) * ::sysconf(_SC_PAGESIZE);
  if (values * sizeof(double) <= memory / 2) return {};
  return std::string(what) + " would take " + FormatDouble(values * 8e-9) +
         " GB, more than half of this machine's memory";
}

}  // namespace

std::string CheckGeneratorOptions(const GeneratorOptions& options) {
  if (options.epochs < 1) return "the number of epochs must be at least 1";
  if (options.channels < 1 || options.channels > kMaxGeneratorChannels)
    return "the number of channels must be between 1 and " +
           std::to_string(kMaxGeneratorChannels);
  if (options.samples < 1 || options.samples > kMaxGeneratorSamples)
    return "the number of samples must be between 1 and " +
           std::to_string(kMaxGeneratorSamples);
  if (!(options.targetRatio > 0.0 && options.targetRatio < 1.0))
    return "the target ratio must be above 0 and below 1";
  // Checked before anything is allocated: the set is held in memory, as
  // doubles, and training takes at most 2^31 - 1 values.
  const double values =
      static_cast<double>(options.epochs) * options.channels * options.samples;
  if (values > std::numeric_limits<int>::max())
    return std::to_string(options.epochs) + " epochs of " +
           std::to_string(options.channels * options.samples) +
           " features are " + FormatDouble(values) +
           " values, more than the 2147483647 a data set may hold";
  return MoreThanHalfOfMemory(values, "the set");
}

Dataset GenerateP300(const GeneratorOptions& options) {
  if (std::string why = CheckGeneratorOptions(options); !why.empty())
    throw std::invalid_argument(why);
  const int E = options.epochs;
  const Shape shape{options.channels,
                    options.samples,
                    kEpochLengthMs / options.samples,
                    SpatialMixing(options.channels)};
  const int C = shape.C, S = shape.S;

  Dataset data;
  data.rows = E;
  data.cols = C * S;
  data.hasLabels = true;
  data.names = FeatureNames(C, S);
  Random random(options.seed);
  data.labels = DrawLabels(E, options.targetRatio, random);
  data.X = Values(E, C * S);
  Epoch epoch;
  for (int e = 0; e < E; ++e) {
    DrawEpoch(shape, data.labels[e] > 0.0, random, epoch);
    double* row = &data.X[static_cast<size_t>(e) * C * S];
    for (int c = 0; c < C; ++c)
      ChannelSamples(shape, epoch, c, random, row + c * S);
  }
  return data;
}

namespace {

// A session's flashes: one every kFlashIntervalMs from 1 s on, the last 1 s
// before the end, their labels drawn as GenerateP300 draws an epoch's.
void PlaceFlashes(const SessionOptions& o, Random& random, Session& s) {
  for (long long e = 0;; ++e) {
    const long long onset =
        std::llround(o.rate * (1.0 + e * kFlashIntervalMs / 1000.0));
    if (onset + std::llround(o.rate) > s.samples) break;
    s.onsets.push_back(onset);
  }
  s.labels =
      DrawLabels(static_cast<int>(s.onsets.size()), o.targetRatio, random);
}

// The responses of every flash added into v (samples x C), each over the
// second after its onset.
void AddResponses(const Session& s, int C, Random& random, double* v) {
  const long long length = std::llround(s.rate);
  for (size_t e = 0; e < s.onsets.size(); ++e) {
    double a = 1.0, j = 0.0;
    DrawAmplitudeAndJitter(random, a, j);
    for (long long k = 0; k < length && s.onsets[e] + k < s.samples; ++k) {
      const double t = k * 1000.0 / s.rate;
      double* at = v + (s.onsets[e] + k) * C;
      for (int c = 0; c < C; ++c)
        at[c] += Response(kChannels[c], t, s.labels[e] > 0, a, j);
    }
  }
}

// Background sources, drift and amplifier noise added into v, sample after
// sample (step 3 of GenerateP300 running on; the drift an AR(1) of its own).
void AddBackground(const Session& s, int C, Random& random, double* v) {
  const double dt = 1000.0 / s.rate;
  const double rho = std::exp(-dt / kNoiseTimeConstantMs);
  const double drho = std::exp(-dt / kSessionDriftTimeConstantMs);
  const std::vector<double> L = SpatialMixing(C);
  std::vector<double> z(C), drift(C);
  for (int c = 0; c < C; ++c) {
    z[c] = random.Normal();
    drift[c] = kSessionDriftMicrovolts * random.Normal();
  }
  for (long long i = 0; i < s.samples; ++i) {
    for (int c = 0; c < C && i > 0; ++c) {
      z[c] = rho * z[c] + std::sqrt(1 - rho * rho) * random.Normal();
      drift[c] = drho * drift[c] + std::sqrt(1 - drho * drho) *
                                       kSessionDriftMicrovolts *
                                       random.Normal();
    }
    for (int c = 0; c < C; ++c) {
      double background = 0.0;
      for (int src = 0; src <= c; ++src) background += L[c * C + src] * z[src];
      v[i * C + c] += kBackgroundMicrovolts * background + drift[c] +
                      kAmplifierMicrovolts * random.Normal();
    }
  }
}

}  // namespace

std::string CheckSessionOptions(const SessionOptions& o) {
  if (!(o.seconds >= kMinSessionSeconds && o.seconds <= 86400))
    return "a session lasts " + FormatDouble(kMinSessionSeconds) +
           " seconds to a day";
  if (!(o.rate >= 64 && o.rate <= 4096))
    return "the sampling rate must be 64 to 4096 Hz";
  if (o.channels < 1 || o.channels > kMaxGeneratorChannels)
    return "the number of channels must be between 1 and " +
           std::to_string(kMaxGeneratorChannels);
  if (!(o.targetRatio > 0.0 && o.targetRatio < 1.0))
    return "the target ratio must be above 0 and below 1";
  const double values = o.seconds * o.rate * o.channels;
  return MoreThanHalfOfMemory(values, "the session");
}

namespace {

// The session's signals: the responses of its flashes on the background.
void AddSignals(const SessionOptions& o, Random& random, Session& s) {
  const int C = o.channels;
  std::vector<double> v(static_cast<size_t>(s.samples) * C, 0.0);
  AddResponses(s, C, random, v.data());
  AddBackground(s, C, random, v.data());
  s.values.assign(v.begin(), v.end());
}

// A session of `o`'s length, rate and channels, without flashes.
Session EmptySession(const SessionOptions& o) {
  if (std::string why = CheckSessionOptions(o); !why.empty())
    throw std::invalid_argument(why);
  Session s;
  s.rate = o.rate;
  s.samples = std::llround(o.seconds * o.rate);
  for (int c = 0; c < o.channels; ++c)
    s.channels.emplace_back(kChannels[c].name);
  return s;
}

}  // namespace

Session GenerateP300Session(const SessionOptions& o) {
  Session s = EmptySession(o);
  Random random(o.seed);
  PlaceFlashes(o, random, s);
  AddSignals(o, random, s);
  return s;
}

Session GeneratePlannedSession(const SessionOptions& o,
                               std::vector<long long> onsets,
                               std::vector<double> labels) {
  Session s = EmptySession(o);
  if (onsets.size() != labels.size() ||
      !std::is_sorted(onsets.begin(), onsets.end()) ||
      (!onsets.empty() && (onsets.front() < 0 || onsets.back() >= s.samples)))
    throw std::invalid_argument("the flashes do not fit in the session");
  s.onsets = std::move(onsets);
  s.labels = std::move(labels);
  Random random(o.seed);
  AddSignals(o, random, s);
  return s;
}

}  // namespace Korva::Data
