#include "cli/summary.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "cli/texts.h"
#include "data/data_checks.h"
#include "korva/hostkit/settings.h"
#include "sources/input_digest.h"

namespace Korva::Cli {
namespace {

std::string& StoredCommandLine() {
  static std::string line;
  return line;
}

Json Number(double value) {
  return std::isfinite(value) ? Json(value) : Json();
}

std::string NameOf(const std::vector<std::string>& names, int index) {
  return index < static_cast<int>(names.size()) ? names[index] : "";
}

}  // namespace

std::string JsonText(const Json& json) {
  return json.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

const char* const kVersion = KORVA_VERSION;

const std::string& CommandLine() { return StoredCommandLine(); }

void SetCommandLine(int argc, char** argv) {
  std::string& line = StoredCommandLine();
  line.clear();
  for (int i = 0; i < argc; ++i) {
    const std::string word = argv[i];
    const bool plain = !word.empty() &&
                       word.find_first_of(" \t\n'\"\\$`") == std::string::npos;
    line += (i ? " " : "") + (plain ? word : "'" + word + "'");
  }
}

Json Provenance(const std::vector<CommandFile>& files,
                const std::string& module,
                ClassifierBase& classifier,
                std::optional<std::uint64_t> seed) {
  Json json;
  json["korva_version"] = kVersion;
  json["command_line"] = CommandLine();
  json["module"] = {{"file", module},
                    {"classifier", classifier.GetName()},
                    {"version", HostKit::ClassifierVersion(classifier)}};
  json["seed"] = seed ? Json(*seed) : Json();
  json["inputs"] = Json::array();
  for (const CommandFile& file : files)
    if (!file.output && !file.path.empty())
      json["inputs"].push_back(
          {{"role", file.role},
           {"file", file.path},
           {"sha256", Sources::RecordedDigest(file.path)}});
  return json;
}

Json ParametersJson(const HostKit::StepwiseSettings& settings) {
  return {
      {"p_enter", settings.pEnter},
      {"p_remove", settings.pRemove},
      {"max_iter", settings.maxIter},
      {"threshold", settings.threshold},
      {"threshold_mode",
       settings.thresholdMode == ClassifierBase::RangeMode ? "range" : "max"}};
}

Json DataJson(const std::string& file, const Data::Dataset& data) {
  const Data::LabelCounts counts = Data::CountLabels(data);
  Json json = {{"file", file},
               {"rows", data.rows},
               {"features", data.cols},
               {"positive", counts.positive},
               {"negative", counts.negative},
               {"other", counts.other}};
  if (data.qualityChecked) json["quality"] = data.quality;
  return json;
}

Json MetricsJson(const std::vector<double>& scores,
                 const std::vector<double>& labels,
                 double cut) {
  return MetricsJson(scores.size(),
                     Report::Auc(scores, labels),
                     Report::ConfusionAbove(scores, labels, cut),
                     cut);
}

Json MetricsJson(size_t rows,
                 double auc,
                 const Report::Confusion& c,
                 std::optional<double> cut) {
  return {
      {"rows", rows},
      {"auc", Number(auc)},
      {"cut", cut ? Number(*cut) : Json()},
      {"accuracy", Number(c.Accuracy())},
      {"balanced_accuracy", Number(c.BalancedAccuracy())},
      {"majority_baseline", Number(c.MajorityBaseline())},
      {"confusion", {{"tp", c.tp}, {"fn", c.fn}, {"fp", c.fp}, {"tn", c.tn}}}};
}

Json SelectionJson(const HostKit::TrainedModel& model,
                   const std::vector<std::string>& names) {
  Json json = Json::array();
  for (int i : model.EntryOrder())
    json.push_back({{"index", i + 1},
                    {"name", NameOf(names, i)},
                    {"weight", model.SavedWeights()[i]}});
  return json;
}

Json StepsJson(const std::vector<HostKit::Step>& steps,
               const std::vector<std::string>& names) {
  Json json = Json::array();
  for (const HostKit::Step& step : steps)
    json.push_back({{"step", step.step},
                    {"action", step.added ? "add" : "remove"},
                    {"index", step.feature + 1},
                    {"name", NameOf(names, step.feature)},
                    {"p", Number(step.p)}});
  return json;
}

std::vector<std::pair<std::string, std::string>> ProvenanceFacts(
    const Json& provenance) {
  std::vector<std::pair<std::string, std::string>> facts = {
      {"korva",
       std::string("version ") + kVersion + ", module " +
           provenance["module"]["file"].get<std::string>() +
           " (document version " +
           provenance["module"]["version"].get<std::string>() + ")"},
      {"command line", CommandLine()}};
  if (!provenance["seed"].is_null())
    facts.push_back(
        {"seed", std::to_string(provenance["seed"].get<std::uint64_t>())});
  for (const Json& input : provenance["inputs"])
    facts.push_back({"input " + input["role"].get<std::string>(),
                     input["file"].get<std::string>() + " (SHA-256 " +
                         input["sha256"].get<std::string>() + ")"});
  return facts;
}

}  // namespace Korva::Cli
