#ifndef KORVA_SPELLER_ERROR_H_
#define KORVA_SPELLER_ERROR_H_

#include <stdexcept>
#include <string>

namespace Korva::Speller {

// What the speller's rules refuse. Each caller answers a kind its own way:
// korva with an exit status (RunCommand), Python with ValueError.
enum class ErrorKind {
  kSettings,  // a layout, its symbols, a target text or a stopping level
              // that cannot be used as given
  kData,      // a session the rules cannot read: a code outside the layout,
              // a selection with missing codes, targets that do not fit
  kModel,     // a model that cannot give what is asked of it
};

class Error : public std::runtime_error {
 public:
  Error(ErrorKind kind, const std::string& message)
      : std::runtime_error(message), kind_(kind) {}
  ErrorKind Kind() const { return kind_; }

 private:
  ErrorKind kind_;
};

}  // namespace Korva::Speller

#endif  // KORVA_SPELLER_ERROR_H_
