#include "cli/training_log.h"

#include <sstream>

namespace Korva::Cli {

nlohmann::ordered_json TrainingLog(ClassifierBase& classifier,
                                   const HostKit::TrainingRun& run) {
  nlohmann::ordered_json log;
  log["result"] = run.result ? nlohmann::ordered_json(*run.result)
                             : nlohmann::ordered_json(nullptr);
  log["progress"] = run.progress;
  log["messages"] = run.messages;
  std::ostringstream shortInfo;
  classifier.GetShortInfo(shortInfo);
  log["short_info"] = shortInfo.str();
  std::ostringstream trainingInfo;
  classifier.GetTrainingInfo(trainingInfo);
  log["training_info"] = trainingInfo.str();
  return log;
}

}  // namespace Korva::Cli
