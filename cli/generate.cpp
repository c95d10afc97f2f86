// korva generate: writes a simulated P300 data set as CSV, or a simulated
// session as a BrainVision recording.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <sstream>
#include <vector>

#include "cli/commands.h"
#include "cli/options.h"
#include "cli/output_streams.h"
#include "data/csv_write.h"
#include "data/data_checks.h"
#include "data/p300_generator.h"
#include "data/random.h"
#include "korva/hostkit/error.h"
#include "korva/hostkit/output_file.h"
#include "speller/layout.h"
#include "speller/session.h"
#include "text/number_text.h"

namespace Korva::Cli {
namespace {

// A simulated copy-spelling session.
struct SpellerSessionOptions {
  bool on = false;
  std::string text = "HELLO_WORLD", layout = "6x6", symbols;
  int repetitions = 10;
  double pauseSeconds = 2;
};

struct GenerateOptions {
  Data::GeneratorOptions generator;
  Data::SessionOptions session;
  SpellerSessionOptions speller;
  std::string output;
  bool quiet = false;
  CLI::Option* epochs = nullptr;
  CLI::Option* samples = nullptr;
  CLI::Option* seconds = nullptr;
  CLI::Option* rate = nullptr;
};

void AddOptions(CLI::App* command, GenerateOptions& o) {
  o.epochs = command->add_option(
      "--epochs", o.generator.epochs, "epochs (rows, default 720)");
  command->add_option(
      "--channels", o.generator.channels, "channels (1 to 32, default 8)");
  o.samples =
      command->add_option("--samples",
                          o.generator.samples,
                          "samples per channel over 0-800 ms (default 20)");
  o.seconds = command->add_option(
      "--seconds",
      o.session.seconds,
      "recording: its length in seconds, a flash every 250 ms (default 120)");
  o.rate = command->add_option(
      "--rate", o.session.rate, "recording: samples per second (default 256)");
  command
      ->add_option("--seed",
                   o.generator.seed,
                   "random seed (default 1); the same seed gives the same file")
      ->transform(kWholeNumber);
  command->add_option("--target-ratio",
                      o.generator.targetRatio,
                      "share of target epochs (default 1/6)");
  command->add_option("--output",
                      o.output,
                      "CSV file to write (default, or -: standard output); a "
                      "name ending in .vhdr writes a simulated session as a "
                      "BrainVision recording (NAME.vhdr, .vmrk and .eeg), "
                      "and one ending in _eeg.vhdr as an EEG-BIDS run with "
                      "its folders, events and channels files");
  AddQuietOption(command, o.quiet);
  command->add_flag("--speller",
                    o.speller.on,
                    "recording: a copy-spelling session (--text, "
                    "--repetitions, --layout): selections start at S100, "
                    "flashes are marked by their code (S  1, S  2, ...), "
                    "target flashes also by S101");
  command->add_option("--text",
                      o.speller.text,
                      "speller: the text spelled (default HELLO_WORLD)");
  command
      ->add_option("--repetitions",
                   o.speller.repetitions,
                   "speller: the flashes of each code per selection (default "
                   "10)")
      ->check(CLI::Range(1, 100));
  command->add_option(
      "--layout", o.speller.layout, "speller: ROWSxCOLS (default 6x6)");
  command->add_option(
      "--symbols", o.speller.symbols, "speller: the layout's symbols");
  command
      ->add_option("--pause-s",
                   o.speller.pauseSeconds,
                   "speller: seconds between two selections (default 2)")
      ->check(CLI::Range(0.0, 60.0));
}

void WriteFile(const std::string& path,
               const std::function<void(std::ostream&)>& write) {
  HostKit::WriteAtomically(path, [&](const std::string& temp) {
    std::ofstream out(temp, std::ios::binary);
    write(out);
    if (!out.flush())
      throw HostKit::Error(
          HostKit::ErrorKind::kOutput,
          "cannot write " + path + ": " + std::strerror(errno));
  });
}

// A stimulus marker: its sample from 0 and its number.
struct Marker {
  long long sample;
  int stimulus;
};

// The markers of a session of flashes: "S  2" (target) and "S  1".
std::vector<Marker> FlashMarkers(const Data::Session& s) {
  std::vector<Marker> markers;
  for (size_t e = 0; e < s.onsets.size(); ++e)
    markers.push_back({s.onsets[e], s.labels[e] > 0 ? 2 : 1});
  return markers;
}

// The session as BrainVision: float samples in microvolts, multiplexed;
// the markers as stimulus markers "S  1" .. "S999". The header, which
// names the other two, is written last.
void WriteBrainVision(const std::string& header,
                      const Data::Session& s,
                      const std::vector<Marker>& marks) {
  const std::string stem = header.substr(0, header.size() - 5);
  const std::string base = stem.substr(stem.find_last_of('/') + 1);
  std::string markers =
      "Brain Vision Data Exchange Marker File, Version 1.0\n"
      "[Common Infos]\nCodepage=UTF-8\nDataFile=" +
      base + ".eeg\n[Marker Infos]\n";
  for (size_t e = 0; e < marks.size(); ++e) {
    const std::string number = std::to_string(marks[e].stimulus);
    markers += "Mk" + std::to_string(e + 1) + "=Stimulus,S" +
               std::string(3 - std::min<size_t>(3, number.size()), ' ') +
               number + "," + std::to_string(marks[e].sample + 1) + ",1,0\n";
  }
  std::string channels;
  for (size_t c = 0; c < s.channels.size(); ++c)
    channels +=
        "Ch" + std::to_string(c + 1) + "=" + s.channels[c] + ",,1,\xC2\xB5V\n";
  std::ostringstream text;
  text << "Brain Vision Data Exchange Header File Version 1.0\n"
       << "; a simulated P300 session written by korva generate\n"
       << "[Common Infos]\nCodepage=UTF-8\nDataFile=" << base
       << ".eeg\nMarkerFile=" << base
       << ".vmrk\nDataFormat=BINARY\nDataOrientation=MULTIPLEXED\n"
       << "NumberOfChannels=" << s.channels.size()
       << "\nSamplingInterval=" << Text::FormatDouble(1e6 / s.rate)
       << "\n[Binary Infos]\nBinaryFormat=IEEE_FLOAT_32\n[Channel Infos]\n"
       << channels;
  static_assert(sizeof(float) == 4);
  WriteFile(stem + ".eeg", [&](std::ostream& out) {
    out.write(reinterpret_cast<const char*>(s.values.data()),
              static_cast<std::streamsize>(s.values.size() * sizeof(float)));
  });
  WriteFile(stem + ".vmrk", [&](std::ostream& out) { out << markers; });
  WriteFile(header, [&](std::ostream& out) { out << text.str(); });
}

// For a recording named as an EEG-BIDS run (NAME_eeg.vhdr): its folders,
// its events file (trial_type target or nontarget, value 2 or 1, as the
// markers) and channels file, and the dataset's description at the root
// (the folder above sub-<label>) unless there is one.
void WriteBidsSidecars(const std::string& header, const Data::Session& s) {
  namespace fs = std::filesystem;
  const std::string stem = header.substr(0, header.size() - 9);
  std::string events = "onset\tduration\ttrial_type\tvalue\tsample\n";
  for (size_t e = 0; e < s.onsets.size(); ++e)
    events += Text::FormatDouble(s.onsets[e] / s.rate) + "\t0\t" +
              (s.labels[e] > 0 ? "target\t2\t" : "nontarget\t1\t") +
              std::to_string(s.onsets[e]) + "\n";
  std::string channels = "name\ttype\tunits\tstatus\n";
  for (const std::string& name : s.channels)
    channels += name + "\tEEG\t\xC2\xB5V\tgood\n";
  WriteFile(stem + "_events.tsv", [&](std::ostream& out) { out << events; });
  WriteFile(stem + "_channels.tsv", [&](std::ostream& out) { out << channels; });
  for (fs::path dir = fs::path(header).parent_path(); !dir.empty();
       dir = dir.parent_path()) {
    if (dir.filename().string().rfind("sub-", 0) != 0) continue;
    const fs::path description = dir.parent_path() / "dataset_description.json";
    if (!fs::exists(description))
      WriteFile(description.string(), [](std::ostream& out) {
        out << "{\"Name\": \"korva generate: simulated P300 sessions\", "
               "\"BIDSVersion\": \"1.8.0\"}\n";
      });
    break;
  }
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() &&
         text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The markers of a simulated speller session besides the flash codes.
constexpr int kSelectionMarker = 100;
constexpr int kTargetMarker = 101;

// The flashes of a copy-spelling session and its markers.
struct SpellerPlan {
  std::vector<long long> onsets;
  std::vector<double> labels;
  std::vector<Marker> markers;
  double seconds = 0;  // the session's length
};

// Per target, `repetitions` rounds of the layout's codes, each round in an
// order drawn afresh; a flash every kFlashIntervalMs from 1 s on, the pause
// between selections, 1.5 s after the last flash.
SpellerPlan PlanSpeller(const SpellerSessionOptions& o,
                        const Speller::Layout& layout,
                        const std::vector<int>& targets,
                        double rate,
                        std::uint64_t seed) {
  // Its own stream, so that the signals are drawn as for any session.
  Data::Random random(seed ^ 0x9E3779B97F4A7C15ULL);
  SpellerPlan plan;
  const double step = Data::kFlashIntervalMs / 1000;
  double t = 1.0;
  for (int target : targets) {
    plan.markers.push_back({std::llround(t * rate), kSelectionMarker});
    for (int r = 0; r < o.repetitions; ++r) {
      std::vector<int> codes = layout.codes;
      for (size_t i = codes.size(); i > 1; --i)
        std::swap(codes[i - 1], codes[random.Below(i)]);
      for (int code : codes) {
        const long long onset = std::llround(t * rate);
        const double label = Speller::FlashLabel(layout, code, target);
        plan.onsets.push_back(onset);
        plan.labels.push_back(label);
        plan.markers.push_back({onset, code});
        if (label > 0) plan.markers.push_back({onset, kTargetMarker});
        t += step;
      }
    }
    t += o.pauseSeconds;
  }
  plan.seconds = t - o.pauseSeconds + 1.5;
  return plan;
}

int RunSpellerSession(GenerateOptions o) {
  const SpellerSessionOptions& sp = o.speller;
  const Speller::Layout layout = Speller::MakeLayout(sp.layout, sp.symbols);
  if (layout.codes.back() >= kSelectionMarker)
    throw CliError(
        kExitUsage,
        "--layout " + sp.layout +
            ": the simulated session marks "
            "selections with S100, so its codes must stay below 100");
  const std::vector<int> targets =
      Speller::TextItems(layout, sp.text, "--text");
  if (targets.empty()) throw CliError(kExitUsage, "--text: nothing to spell");
  const SpellerPlan plan =
      PlanSpeller(sp, layout, targets, o.session.rate, o.generator.seed);
  o.session.seconds = plan.seconds;
  o.session.channels = o.generator.channels;
  o.session.seed = o.generator.seed;
  if (std::string why = Data::CheckSessionOptions(o.session); !why.empty())
    throw CliError(kExitUsage, why);
  const Data::Session s =
      Data::GeneratePlannedSession(o.session, plan.onsets, plan.labels);
  WriteBrainVision(o.output, s, plan.markers);
  if (o.quiet) return kExitOk;
  std::cout << "wrote a copy-spelling session of " << sp.text << " ("
            << targets.size() << " selections x " << sp.repetitions
            << " repetitions x " << layout.Codes() << " flashes, "
            << Speller::LayoutText(layout) << ") to " << o.output << ": "
            << Text::FormatDouble(std::round(plan.seconds * 100) / 100)
            << " s of " << s.channels.size() << " channels at "
            << Text::FormatDouble(s.rate) << " Hz; selections start at S"
            << kSelectionMarker << ", each flash is marked by its code, "
            << "target flashes also by S" << kTargetMarker << '\n';
  return kExitOk;
}

int RunSession(GenerateOptions o) {
  if (o.speller.on) {
    if (o.epochs->count() || o.samples->count() || o.seconds->count())
      throw CliError(kExitUsage,
                     "--epochs, --samples and --seconds do not shape a "
                     "speller session, whose length its text, repetitions "
                     "and layout give");
    return RunSpellerSession(std::move(o));
  }
  if (o.epochs->count() || o.samples->count())
    throw CliError(kExitUsage,
                   "--epochs and --samples shape a feature table; a "
                   "recording (" +
                       o.output + ") takes --seconds and --rate");
  o.session.channels = o.generator.channels;
  o.session.seed = o.generator.seed;
  o.session.targetRatio = o.generator.targetRatio;
  if (std::string why = Data::CheckSessionOptions(o.session); !why.empty())
    throw CliError(kExitUsage, why);
  const Data::Session s = Data::GenerateP300Session(o.session);
  const bool bids = EndsWith(o.output, "_eeg.vhdr");
  if (bids) {
    std::error_code error;
    std::filesystem::create_directories(
        std::filesystem::path(o.output).parent_path(), error);
  }
  WriteBrainVision(o.output, s, FlashMarkers(s));
  if (bids) WriteBidsSidecars(o.output, s);
  if (o.quiet) return kExitOk;
  long long targets = 0;
  for (double label : s.labels) targets += label > 0;
  std::cout << "wrote " << Text::FormatDouble(o.session.seconds) << " s of "
            << s.channels.size() << " channels at "
            << Text::FormatDouble(s.rate) << " Hz with " << s.onsets.size()
            << " flashes (" << targets
            << " targets, marked S  2; the others S  1) to " << o.output
            << (bids ? " with its events and channels files" : "") << '\n';
  return kExitOk;
}

int RunGenerate(const GenerateOptions& o) {
  if (o.output.size() > 5 &&
      o.output.compare(o.output.size() - 5, 5, ".vhdr") == 0)
    return RunSession(o);
  if (o.speller.on)
    throw CliError(kExitUsage,
                   "--speller writes a recording: give --output NAME.vhdr");
  if (o.seconds->count() || o.rate->count())
    throw CliError(kExitUsage,
                   "--seconds and --rate shape a recording, which is written "
                   "when --output ends in .vhdr");
  if (std::string why = Data::CheckGeneratorOptions(o.generator); !why.empty())
    throw CliError(kExitUsage, why);
  const Dataset data = Data::GenerateP300(o.generator);
  if (o.output.empty() || WritesStandardOutput(o.output)) {
    Data::WriteCsv(std::cout, data);
    return kExitOk;
  }
  WriteFile(o.output, [&](std::ostream& out) { Data::WriteCsv(out, data); });
  if (o.quiet) return kExitOk;
  const Data::LabelCounts counts = Data::CountLabels(data);
  std::cout << "wrote " << data.rows << " epochs (" << counts.positive
            << " targets) x " << data.cols << " features ("
            << o.generator.channels << " channels x " << o.generator.samples
            << " samples) to " << o.output << '\n';
  return kExitOk;
}

}  // namespace

Command AddGenerateCommand(CLI::App& korva) {
  auto options = std::make_shared<GenerateOptions>();
  CLI::App* command =
      korva.add_subcommand("generate",
                           "write a simulated P300 data set (CSV), or a "
                           "simulated session as a recording (.vhdr)");
  AddOptions(command, *options);
  return {command, [options] { return RunGenerate(*options); }};
}

}  // namespace Korva::Cli
