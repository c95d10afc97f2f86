#ifndef KORVA_CLI_INPUT_DIGEST_H_
#define KORVA_CLI_INPUT_DIGEST_H_

// The SHA-256 of every input korva reads, computed from the bytes as they
// are read and parsed: an input is never opened a second time to be hashed,
// so FIFOs, process substitution and standard input get the digest of what
// was read, and a file that changes meanwhile cannot get another one.

#include <string>
#include <string_view>

#include "data/dataset.h"

namespace Korva::Cli {

// Hashes the inputs read from now on (for a summary or a report); off by
// default, since opening libcrypto and hashing cost time most runs need not
// spend.
void RecordInputDigests();

// Hashes one input while it is read: Sink() (empty when recording is off)
// takes its bytes in order, and Keep() records the digest under its path
// once the whole input was read.
class InputDigest {
 public:
  explicit InputDigest(std::string path);
  ~InputDigest();
  InputDigest(const InputDigest&) = delete;
  InputDigest& operator=(const InputDigest&) = delete;
  Data::ByteSink Sink();
  void Keep();
  // `bytes` as one whole input, recorded at once.
  static void Record(const std::string& path, std::string_view bytes);

 private:
  std::string path_;
  void* context_ = nullptr;  // the libcrypto digest context
};

// The digest of the input read from `path` as 64 hex digits; "" when it was
// not recorded (recording off, or libcrypto missing).
std::string RecordedDigest(const std::string& path);

}  // namespace Korva::Cli

#endif  // KORVA_CLI_INPUT_DIGEST_H_
