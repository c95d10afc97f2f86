// korva epochs: cuts continuous recordings into the feature table that
// train, evaluate and score read.
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <thread>

#include "cli/commands.h"
#include "cli/files.h"
#include "cli/memory_option.h"
#include "cli/options.h"
#include "cli/recipe_options.h"
#include "cli/recording_report.h"
#include "cli/texts.h"
#include "data/csv_write.h"
#include "korva/hostkit/error.h"
#include "korva/hostkit/output_file.h"
#include "text/number_text.h"

namespace Korva::Cli {
namespace {

struct EpochsOptions {
  std::vector<std::string> recordings;
  std::string output, memoryLimit;
  RecipeOptions recipe;
  Recording::OpenOptions open;
  Sources::BidsFilter bids;
  bool quiet = false;
};

void AddOptions(CLI::App* command, EpochsOptions& o) {
  command
      ->add_option("RECORDING",
                   o.recordings,
                   "recordings (EDF, BDF, GDF, BrainVision .vhdr, XDF, "
                   "headset CSV), one run each, or EEG-BIDS folders (their "
                   "runs), stacked in the order given")
      ->required();
  command
      ->add_option("--output",
                   o.output,
                   "feature table to write (CSV: label, run, then one column "
                   "per channel and bin; -: standard output)")
      ->required();
  AddRecipeOptions(command, o.recipe);
  AddRecordingOptions(command, o.open);
  AddBidsOptions(command, o.bids);
  AddMemoryLimitOption(command, o.memoryLimit);
  AddQuietOption(command, o.quiet);
}

// Rows [first, last) of the feature table, each with its run (from 1) after
// its label, into `text`.
void FormatRows(const Data::Dataset& data,
                int first,
                int last,
                std::string& text) {
  text.clear();
  auto put = [&](double v) {
    text += ',';
    Text::AppendDouble(text, v);
  };
  for (int r = first; r < std::min(last, data.rows); ++r) {
    text += data.labels[r] > 0 ? "1," : "-1,";
    text += data.groupNames[data.groups[r]];
    for (int c = 0; c < data.cols; ++c) put(data.At(r, c));
    text += '\n';
  }
}

// The header, then the rows in blocks, two blocks at a time on two threads:
// turning doubles into text is most of the time of a large table.
void WriteTable(std::ostream& out, const Data::Dataset& data) {
  std::string text[2] = {"label,run", ""};
  for (const std::string& name : data.names)
    text[0] += "," + Data::CsvField(name);
  out << text[0] << '\n';
  constexpr int kBlock = 256;
  for (int first = 0; first < data.rows; first += 2 * kBlock) {
    std::thread other(
        [&] { FormatRows(data, first + kBlock, first + 2 * kBlock, text[1]); });
    FormatRows(data, first, first + kBlock, text[0]);
    other.join();
    out << text[0] << text[1];
  }
}

void PrintReport(std::ostream& out,
                 const Sources::LoadedData& cut,
                 const std::string& output) {
  PrintCut(out, cut, true);
  long long targets = 0;
  for (double label : cut.data.labels) targets += label > 0;
  out << "wrote " << cut.data.rows << " epochs (" << targets << " target, "
      << cut.data.rows - targets << " non-target) x " << cut.data.cols
      << " features to " << output << '\n';
}

int RunEpochs(const EpochsOptions& o) {
  ApplyMemoryLimit(o.memoryLimit);
  std::vector<CommandFile> files;
  for (const std::string& path : o.recordings)
    files.push_back({"RECORDING", path, false});
  files.push_back({"--output", o.output, true});
  CheckCommandFiles(files);
  const Sources::LoadedData cut =
      Sources::Cut(o.recordings, o.recipe.Recipe(), o.open, o.bids);
  AddRecordingFiles(files, cut.files);
  const Data::Dataset& data = cut.data;
  WarnAboutQuality(data);
  HostKit::WriteAtomically(o.output, [&](const std::string& temp) {
    std::ofstream out(temp, std::ios::binary);
    WriteTable(out, data);
    if (!out.flush())
      throw HostKit::Error(
          HostKit::ErrorKind::kOutput,
          "cannot write " + o.output + ": " + std::strerror(errno));
  });
  if (std::ostream* out = MessageStream(o.quiet, {o.output}))
    PrintReport(*out, cut, o.output);
  return kExitOk;
}

}  // namespace

Command AddEpochsCommand(CLI::App& korva) {
  auto options = std::make_shared<EpochsOptions>();
  CLI::App* command = korva.add_subcommand(
      "epochs",
      "cut recordings into epoch features by a recipe (filter, window, "
      "bins) and write them as a feature table (CSV)");
  AddOptions(command, *options);
  return {command, [options] { return RunEpochs(*options); }};
}

}  // namespace Korva::Cli
