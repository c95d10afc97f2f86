// korva generate: writes a simulated P300 data set as CSV.
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>

#include "cli/commands.h"
#include "cli/options.h"
#include "cli/output_streams.h"
#include "data/csv_io.h"
#include "data/data_checks.h"
#include "data/p300_generator.h"
#include "korva/hostkit/error.h"
#include "korva/hostkit/output_file.h"

namespace Korva::Cli {
namespace {

struct GenerateOptions {
  Data::GeneratorOptions generator;
  std::string output;
  bool quiet = false;
};

void AddOptions(CLI::App* command, GenerateOptions& o) {
  command->add_option(
      "--epochs", o.generator.epochs, "epochs (rows, default 720)");
  command->add_option(
      "--channels", o.generator.channels, "channels (1 to 32, default 8)");
  command->add_option("--samples",
                      o.generator.samples,
                      "samples per channel over 0-800 ms (default 20)");
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
                      "CSV file to write (default, or -: standard output)");
  AddQuietOption(command, o.quiet);
}

int RunGenerate(const GenerateOptions& o) {
  if (std::string why = Data::CheckGeneratorOptions(o.generator); !why.empty())
    throw CliError(kExitUsage, why);
  const Dataset data = Data::GenerateP300(o.generator);
  if (o.output.empty() || WritesStandardOutput(o.output)) {
    Data::WriteCsv(std::cout, data);
    return kExitOk;
  }
  HostKit::WriteAtomically(o.output, [&](const std::string& temp) {
    std::ofstream out(temp, std::ios::binary);
    Data::WriteCsv(out, data);
    if (!out.flush())
      throw HostKit::Error(
          HostKit::ErrorKind::kOutput,
          "cannot write " + o.output + ": " + std::strerror(errno));
  });
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
      korva.add_subcommand("generate", "write a simulated P300 data set (CSV)");
  AddOptions(command, *options);
  return {command, [options] { return RunGenerate(*options); }};
}

}  // namespace Korva::Cli
