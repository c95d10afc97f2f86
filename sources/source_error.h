#ifndef KORVA_SOURCES_SOURCE_ERROR_H_
#define KORVA_SOURCES_SOURCE_ERROR_H_

#include <stdexcept>
#include <string>

namespace Korva::Sources {

// What a request for data is refused for besides its data, which fail as
// Data::DataError. Each caller answers a kind its own way: korva with an
// exit status (RunCommand), Python with ValueError.
enum class ErrorKind {
  kUsage,  // what was named does not go together: tables and recordings
           // mixed, the settings of the one kind given for the other,
           // several tables, a recording named twice, a recipe that
           // cannot be
  kModel,  // a model's recipe cannot be read
};

class Error : public std::runtime_error {
 public:
  Error(ErrorKind kind, const std::string& message)
      : std::runtime_error(message), kind_(kind) {}
  ErrorKind Kind() const { return kind_; }

 private:
  ErrorKind kind_;
};

}  // namespace Korva::Sources

#endif  // KORVA_SOURCES_SOURCE_ERROR_H_
