#ifndef KORVA_VALIDATION_ERROR_H_
#define KORVA_VALIDATION_ERROR_H_

// The one error type of the cross-validation engine, and how its messages
// name the inputs a caller took the description from.

#include <optional>
#include <stdexcept>
#include <string>

namespace Korva::Validation {

// What made a cross-validation or a tuning impossible.
enum class ErrorKind {
  kScheme,             // the description (a grid) cannot be used as given
  kData,               // the data cannot be split so, or give no AUC
  kTrainingFailed,     // a training did not succeed (or its fold gave none)
  kTrainingException,  // a training raised an exception
};

class Error : public std::runtime_error {
 public:
  Error(ErrorKind kind,
        const std::string& message,
        std::optional<int> status = std::nullopt)
      : std::runtime_error(message), kind_(kind), status_(status) {}
  ErrorKind Kind() const { return kind_; }
  // The failed training's status; unset for the other kinds, and for a
  // training that raised an exception or gave no result.
  std::optional<int> Status() const { return status_; }

 private:
  ErrorKind kind_;
  std::optional<int> status_;
};

// How messages name the caller's inputs: korva's options by default. An
// empty `folds` or `seed` leaves out the hint that would name it.
struct InputNames {
  std::string pEnter = "--p-enter";
  std::string pRemove = "--p-remove";
  std::string maxIter = "--max-iter";
  std::string folds = "--folds";
  std::string seed = "--seed";
};

}  // namespace Korva::Validation

#endif  // KORVA_VALIDATION_ERROR_H_
