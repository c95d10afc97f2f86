#ifndef KORVA_SOURCES_INPUT_DIGEST_H_
#define KORVA_SOURCES_INPUT_DIGEST_H_

// The SHA-256 of every input a request reads. A feature table or a model is
// hashed from its bytes as they are read and parsed, never opened a second
// time to be hashed, so FIFOs, process substitution and standard input get
// the digest of what was read, and a file that changes meanwhile cannot get
// another one. A recording is the exception: its readers take it a channel
// at a time from all over its files, so every file it read (a BrainVision
// header's data and marker files too, each under its own path) is read once
// more, from start to end, once it is opened (RecordFileDigest). Recording
// readers open regular files only, so this reads the same bytes again.

#include <functional>
#include <string>
#include <string_view>

#include "data/dataset.h"

namespace Korva::Sources {

// Hashes the inputs read from now on (for a summary or a report); off by
// default, since opening libcrypto and hashing cost time most runs need not
// spend. `warn` (may be empty) hears, once, that libcrypto cannot be opened
// and the digests are left out.
void RecordInputDigests(std::function<void(const std::string&)> warn);

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

// Records the digest of the file at `path`, read from start to end, when
// digests are recorded; nothing when it cannot be read (its reader says why).
void RecordFileDigest(const std::string& path);

// The digest of the input read from `path` as 64 hex digits; "" when it was
// not recorded (recording off, or libcrypto missing).
std::string RecordedDigest(const std::string& path);

}  // namespace Korva::Sources

#endif  // KORVA_SOURCES_INPUT_DIGEST_H_
