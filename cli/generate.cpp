// korva generate: writes a simulated P300 data set as CSV, or a simulated
// session as a BrainVision recording.
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <sstream>

#include "cli/commands.h"
#include "cli/options.h"
#include "cli/output_streams.h"
#include "data/csv_write.h"
#include "data/data_checks.h"
#include "data/p300_generator.h"
#include "korva/hostkit/error.h"
#include "korva/hostkit/output_file.h"
#include "text/number_text.h"

namespace Korva::Cli {
namespace {

struct GenerateOptions {
  Data::GeneratorOptions generator;
  Data::SessionOptions session;
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

// The session as BrainVision: float samples in microvolts, multiplexed;
// flashes as stimulus markers "S  2" (target) and "S  1". The header, which
// names the other two, is written last.
void WriteBrainVision(const std::string& header, const Data::Session& s) {
  const std::string stem = header.substr(0, header.size() - 5);
  const std::string base = stem.substr(stem.find_last_of('/') + 1);
  std::string markers =
      "Brain Vision Data Exchange Marker File, Version 1.0\n"
      "[Common Infos]\nCodepage=UTF-8\nDataFile=" +
      base + ".eeg\n[Marker Infos]\n";
  for (size_t e = 0; e < s.onsets.size(); ++e)
    markers += "Mk" + std::to_string(e + 1) + "=Stimulus,S  " +
               (s.labels[e] > 0 ? "2," : "1,") +
               std::to_string(s.onsets[e] + 1) + ",1,0\n";
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

int RunSession(GenerateOptions o) {
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
  WriteBrainVision(o.output, s);
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
