#ifndef KORVA_TESTING_RECORDING_PROGRESS_H_
#define KORVA_TESTING_RECORDING_PROGRESS_H_

#include <string>
#include <vector>

#include "korva/classifier_progress.h"

namespace Korva::Testing {

// Keeps every message a training sends.
class RecordingProgress : public ClassifierProgress {
 public:
  void AddMessage(const std::string& message) override {
    received.push_back(message);
  }
  std::vector<std::string> received;
};

}  // namespace Korva::Testing

#endif  // KORVA_TESTING_RECORDING_PROGRESS_H_
