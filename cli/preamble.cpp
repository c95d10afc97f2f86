#include "cli/preamble.h"

#include <ostream>

#include "cli/memory_option.h"
#include "cli/texts.h"
#include "korva/hostkit/memory_budget.h"
#include "korva/hostkit/module_path.h"
#include "korva/hostkit/shared_rows.h"
#include "sources/input_digest.h"
#include "validation/selection_folds.h"

namespace Korva::Cli {

void RunPreamble(const PreambleRequest& r, Preamble& p) {
  const DataSource& source = *r.data;
  ApplyMemoryLimit(r.memoryLimit);
  r.checkOptions();
  CheckCommandFiles(r.files);
  const HostKit::SettingsChange settings = r.settings();
  if (r.digests) Sources::RecordInputDigests(Warn);
  std::vector<std::string> outputs;
  for (const CommandFile& file : r.files)
    if (file.output) outputs.push_back(file.path);
  p.out = MessageStream(r.quiet, outputs);
  p.files = r.files;
  DataSource data = source;
  data.speller = source.spellerOptions.Request(true);
  p.data = LoadData(data, true, p.out, &p.recipe, &p.files, &p.speller);
  if (data.speller) p.paradigm = data.speller->paradigm;
  if (p.speller && !r.plan) Validation::GroupForSelections(p.data, *p.speller);
  CheckTrainingSet(p.data, source.Name());
  p.modulePath = HostKit::ChooseModulePath(r.module);
  p.module = HostKit::OpenModule(p.modulePath);
  p.shown = HostKit::NewClassifier(*p.module);
  HostKit::ApplySettings(*p.shown, settings);

  if (r.plan) {
    p.plan = r.plan(p.data, p.recipe, p.out, p.files);
  } else {
    p.plan = Validation::MakePlan(
        FoldScheme(*r.folds, source, p.data), p.data, source.Name());
    if (p.out)
      *p.out << source.Name() << ": " << DescribeSet(p.data) << '\n'
             << p.plan.scheme << '\n';
  }
  if (p.out) *p.out << r.heading(*p.shown) << '\n' << std::flush;
  const bool shared = p.module->SubsetTraining() != nullptr &&
                      HostKit::SharedTrainingsWanted() &&
                      !p.plan.folds.empty() && p.plan.folds[0].source;
  HostKit::CheckTrainingMemory(Validation::LargestTrainingSet(p.plan),
                               p.data.cols,
                               false,
                               r.atOnce(p.plan),
                               !shared            ? 0
                               : r.foldSettings ? r.foldSettings()
                                                : 1);
}

}  // namespace Korva::Cli
