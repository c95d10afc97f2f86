#ifndef KORVA_CLI_TRAINING_LOG_H_
#define KORVA_CLI_TRAINING_LOG_H_

#include <nlohmann/json.hpp>
#include <string>

#include "korva/classifier_base.h"
#include "korva/hostkit/training.h"

namespace Korva::Cli {

// The JSON log of a training: {"result", "progress", "messages",
// "short_info", "training_info"}, texts exactly as the classifier gave them
// ("result" is null after an exception).
nlohmann::ordered_json TrainingLog(ClassifierBase& classifier,
                                   const HostKit::TrainingRun& run);

}  // namespace Korva::Cli

#endif  // KORVA_CLI_TRAINING_LOG_H_
