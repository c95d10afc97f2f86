#ifndef KORVA_HOSTKIT_ERROR_H_
#define KORVA_HOSTKIT_ERROR_H_

#include <stdexcept>
#include <string>

#include "korva/export.h"

namespace Korva::HostKit {

// What went wrong, for a host to map to its own statuses or exceptions.
enum class ErrorKind {
  kSettings,           // a parameter value the classifier refuses
  kData,               // a data set the host cannot hand to the classifier
  kModule,             // module not loadable, no object, settings not taken
  kModel,              // classifier document unreadable or unusable
  kTrainingFailed,     // training returned a non-zero status
  kTrainingException,  // training raised an exception
  kOutput,             // an output file could not be written
};

// The one error type of the host kit: a kind and a message that says what
// failed and where (file names included).
class KORVA_HOSTKIT_API Error : public std::runtime_error {
 public:
  Error(ErrorKind kind, const std::string& message)
      : std::runtime_error(message), kind_(kind) {}
  ErrorKind Kind() const { return kind_; }

 private:
  ErrorKind kind_;
};

}  // namespace Korva::HostKit

#endif  // KORVA_HOSTKIT_ERROR_H_
