// korva info: the short and training reports of a saved classifier.
#include <iostream>
#include <memory>
#include <sstream>

#include "cli/commands.h"
#include "cli/common.h"
#include "data/csv_io.h"
#include "korva/hostkit/document.h"
#include "korva/hostkit/module_path.h"
#include "korva/text.h"

namespace Korva::Cli {
namespace {

struct InfoOptions {
  std::string model, module;
  bool quiet = false;
};

void PrintSelectionByName(ClassifierBase& classifier) {
  const HostKit::Selection selection = HostKit::ReadSelection(classifier);
  if (selection.Count() == 0) return;
  std::cout << "selected features by name:\n";
  for (int i = 0; i < selection.features; ++i) {
    if (!selection.selected[i]) continue;
    std::string name = i < static_cast<int>(classifier.FeatureNames.size())
                           ? classifier.FeatureNames[i]
                           : std::string();
    if (name.empty()) name = "#" + std::to_string(i + 1);
    std::cout << "  " << CleanText(name) << "  "
              << Data::FormatDouble(selection.weights[i]) << '\n';
  }
}

int RunInfo(const InfoOptions& o) {
  auto module = HostKit::OpenModule(HostKit::ChooseModulePath(o.module));
  std::vector<std::string> warnings;
  HostKit::Model model =
      HostKit::LoadModelDocument(*module, o.model, &warnings);
  for (const std::string& warning : warnings) Warn(warning);
  if (o.quiet) return kExitOk;
  ClassifierBase& classifier = *model.classifier;
  std::ostringstream shortInfo, trainingInfo;
  classifier.GetShortInfo(shortInfo);
  classifier.GetTrainingInfo(trainingInfo);
  std::cout << "model: " << o.model << '\n'
            << shortInfo.str() << '\n'
            << trainingInfo.str();
  if (!trainingInfo.str().empty() && trainingInfo.str().back() != '\n')
    std::cout << '\n';
  PrintSelectionByName(classifier);
  if (model.intercept)
    std::cout << "intercept: " << Data::FormatDouble(*model.intercept)
              << " (kept by korva in the document; scores add it)\n";
  else
    std::cout << "note: " << kInterceptNote << '\n';
  return kExitOk;
}

}  // namespace

Command AddInfoCommand(CLI::App& korva) {
  auto options = std::make_shared<InfoOptions>();
  CLI::App* command = korva.add_subcommand(
      "info", "show the short and training reports of a saved classifier");
  command->add_option("MODEL", options->model, "classifier document (XML)")
      ->required();
  AddQuietOption(command, options->quiet);
  AddModuleOption(command, options->module);
  return {command, [options] { return RunInfo(*options); }};
}

}  // namespace Korva::Cli
