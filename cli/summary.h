#ifndef KORVA_CLI_SUMMARY_H_
#define KORVA_CLI_SUMMARY_H_

// What korva records for scripts and reports: where a result came from
// (version, command line, seed, input files and their SHA-256) and the
// metrics, selection and steps of a training, as JSON.

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "cli/files.h"
#include "data/dataset.h"
#include "korva/hostkit/settings.h"
#include "korva/hostkit/trained_model.h"
#include "report/metrics.h"

namespace Korva::Cli {

using Json = nlohmann::ordered_json;

// Serialises JSON; bytes that are not UTF-8 become U+FFFD.
std::string JsonText(const Json& json);

// korva's version.
extern const char* const kVersion;

// The command line korva was started with, as one line.
const std::string& CommandLine();
void SetCommandLine(int argc, char** argv);

// {"korva_version", "command_line", "module", "seed", "inputs": [{"role",
// "file", "sha256"}]} for the command's input files (outputs are left out),
// each with the digest recorded as it was read (RecordedDigest).
Json Provenance(const std::vector<CommandFile>& files,
                const std::string& module,
                ClassifierBase& classifier,
                std::optional<std::uint64_t> seed);

// {"p_enter", "p_remove", "max_iter", "threshold", "threshold_mode"}.
Json ParametersJson(const HostKit::StepwiseSettings& settings);

// {"file", "rows", "features", "positive", "negative", "other"}, and
// "quality", the warnings about the data, when they were checked.
Json DataJson(const std::string& file, const Data::Dataset& data);

// {"rows", "auc", "cut", "accuracy", "balanced_accuracy",
// "majority_baseline", "confusion": {"tp", "fn", "fp", "tn"}} of the
// decisions "score above cut"; NaN becomes null.
Json MetricsJson(const std::vector<double>& scores,
                 const std::vector<double>& labels,
                 double cut);
// The same of decisions counted elsewhere ("cut" null when not one cut).
Json MetricsJson(size_t rows,
                 double auc,
                 const Report::Confusion& decisions,
                 std::optional<double> cut);

// The selected features in the order they (last) entered, or in index order
// without steps: [{"index" (from 1), "name", "weight"}], the weights as the
// document keeps them.
Json SelectionJson(const HostKit::TrainedModel& model,
                   const std::vector<std::string>& names);

// [{"step", "action": "add" | "remove", "index" (from 1), "name", "p"}].
Json StepsJson(const std::vector<HostKit::Step>& steps,
               const std::vector<std::string>& names);

// The provenance as facts for an HTML report.
std::vector<std::pair<std::string, std::string>> ProvenanceFacts(
    const Json& provenance);

}  // namespace Korva::Cli

#endif  // KORVA_CLI_SUMMARY_H_
