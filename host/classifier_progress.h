#ifndef KORVA_HOST_CLASSIFIER_PROGRESS_H_
#define KORVA_HOST_CLASSIFIER_PROGRESS_H_

#include <string>

#include "host/korva_api.h"

// The host's progress sink for a training. Its virtual operations stand in
// this order (modules call AddMessage through the third of them).
class KORVA_API ClassifierProgress {
 public:
  virtual ~ClassifierProgress();
  // Numeric progress (position of count); the DOZOD classifier does not use it.
  virtual void SetPosition(int position, int count);
  // Receives one message; the string lives only for the duration of the call.
  virtual void AddMessage(const std::string& message) = 0;
};

#endif  // KORVA_HOST_CLASSIFIER_PROGRESS_H_
