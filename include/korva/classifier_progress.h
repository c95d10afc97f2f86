#ifndef KORVA_CLASSIFIER_PROGRESS_H_
#define KORVA_CLASSIFIER_PROGRESS_H_

#include <string>

#include "korva/export.h"

// The host's progress sink for a training. Its virtual operations stand in
// this order (modules call AddMessage through the third of them).
class KORVA_HOST_API ClassifierProgress {
 public:
  virtual ~ClassifierProgress();
  // Numeric progress (position of count); the DOZOD classifier does not use it.
  virtual void SetPosition(int position, int count);
  // Receives one message; the string lives only for the duration of the call.
  virtual void AddMessage(const std::string& message) = 0;
};

#endif  // KORVA_CLASSIFIER_PROGRESS_H_
