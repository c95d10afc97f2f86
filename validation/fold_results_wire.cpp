// The bytes a fold worker sends its results in (EncodeFoldResults, declared
// in fold_runner.h). Both ends are the same program, so numbers travel in
// the machine's own layout: a double as its eight bytes, which carries the
// infinities and NaN exactly as they were.
//
//   "KFR1", count (u64), then per result:
//     flags (u8: 1 status set, 2 threw), status (i32, when set),
//     failure (u64 length, bytes), seconds (f64), cut (f64),
//     scores (u64 n, n f64), selected (u64 n, n bytes 0 or 1),
//     weights (u64 n, n f64)
#include <cstring>
#include <stdexcept>

#include "validation/fold_runner.h"

namespace Korva::Validation {
namespace {

constexpr char kMagic[4] = {'K', 'F', 'R', '1'};

class Writer {
 public:
  template <typename T>
  void Put(T value) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(&value);
    bytes.insert(bytes.end(), p, p + sizeof(T));
  }
  void PutSize(size_t n) { Put(static_cast<std::uint64_t>(n)); }
  void PutDoubles(const std::vector<double>& values) {
    PutSize(values.size());
    for (double value : values) Put(value);
  }
  std::vector<std::uint8_t> bytes;
};

class Reader {
 public:
  explicit Reader(const std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}
  template <typename T>
  T Get() {
    T value;
    std::memcpy(&value, Take(sizeof(T)), sizeof(T));
    return value;
  }
  // A count of items of `width` bytes each, refused when they cannot fit
  // in what is left.
  size_t GetSize(size_t width) {
    const std::uint64_t n = Get<std::uint64_t>();
    if (n > (bytes_.size() - at_) / width) Refuse();
    return static_cast<size_t>(n);
  }
  std::vector<double> GetDoubles() {
    std::vector<double> values(GetSize(sizeof(double)));
    for (double& value : values) value = Get<double>();
    return values;
  }
  const std::uint8_t* Take(size_t n) {
    if (n > bytes_.size() - at_) Refuse();
    at_ += n;
    return bytes_.data() + at_ - n;
  }
  bool AtEnd() const { return at_ == bytes_.size(); }
  [[noreturn]] static void Refuse() {
    throw std::runtime_error("not a list of fold results");
  }

 private:
  const std::vector<std::uint8_t>& bytes_;
  size_t at_ = 0;
};

FoldResult ReadResult(Reader& in) {
  FoldResult r;
  const auto flags = in.Get<std::uint8_t>();
  if (flags > 3) Reader::Refuse();
  if (flags & 1) r.result = in.Get<std::int32_t>();
  r.threw = flags & 2;
  const size_t length = in.GetSize(1);
  r.failure.assign(reinterpret_cast<const char*>(in.Take(length)), length);
  r.seconds = in.Get<double>();
  r.cut = in.Get<double>();
  r.scores = in.GetDoubles();
  r.selected.resize(in.GetSize(1));
  for (size_t i = 0; i < r.selected.size(); ++i) {
    const auto flag = in.Get<std::uint8_t>();
    if (flag > 1) Reader::Refuse();
    r.selected[i] = flag;
  }
  r.weights = in.GetDoubles();
  return r;
}

}  // namespace

std::vector<std::uint8_t> EncodeFoldResults(
    const std::vector<FoldResult>& results) {
  Writer out;
  for (char c : kMagic) out.Put(c);
  out.PutSize(results.size());
  for (const FoldResult& r : results) {
    out.Put(static_cast<std::uint8_t>((r.result ? 1 : 0) | (r.threw ? 2 : 0)));
    if (r.result) out.Put(static_cast<std::int32_t>(*r.result));
    out.PutSize(r.failure.size());
    out.bytes.insert(out.bytes.end(), r.failure.begin(), r.failure.end());
    out.Put(r.seconds);
    out.Put(r.cut);
    out.PutDoubles(r.scores);
    out.PutSize(r.selected.size());
    for (bool flag : r.selected) out.Put(static_cast<std::uint8_t>(flag));
    out.PutDoubles(r.weights);
  }
  return std::move(out.bytes);
}

std::vector<FoldResult> DecodeFoldResults(
    const std::vector<std::uint8_t>& bytes) {
  Reader in(bytes);
  if (std::memcmp(in.Take(sizeof(kMagic)), kMagic, sizeof(kMagic)) != 0)
    Reader::Refuse();
  // Every result takes at least its flags, two numbers and four counts.
  std::vector<FoldResult> results(in.GetSize(1 + 6 * 8));
  for (FoldResult& r : results) r = ReadResult(in);
  if (!in.AtEnd()) Reader::Refuse();
  return results;
}

}  // namespace Korva::Validation
