#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "data/csv_io.h"
#include "fuzz/dataset_checks.h"
#include "fuzz/harnesses.h"

namespace Korva::Fuzz {
namespace {

constexpr const char* kFileName = "fuzz.csv";
// Past this size the reader splits the body across threads.
constexpr std::size_t kThreadedSize = std::size_t{1} << 20;

ReadOutcome Parse(std::string_view text, const Data::CsvOptions& options) {
  return TryRead([&] { return Data::ParseCsv(text, kFileName, options); });
}

std::string Check(const ReadOutcome& outcome, const Data::CsvOptions& options) {
  return CheckOutcome(outcome,
                      kFileName,
                      options.requireLabels,
                      outcome.ok ? outcome.data.cols : 0);
}

template <typename Values>
bool SameBits(const Values& a, const Values& b) {
  return a.size() == b.size() &&
         (a.empty() || std::memcmp(a.data(), b.data(), a.size() * 8) == 0);
}

}  // namespace

std::string FuzzCsv(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return {};
  Data::CsvOptions options;
  options.requireLabels = (data[0] & 1) != 0;
  options.threads = 1 + ((data[0] >> 1) & 3);
  const std::string_view text(reinterpret_cast<const char*>(data + 1),
                              size - 1);
  try {
    return Check(Parse(text, options), options);
  } catch (const std::exception& error) {
    return OtherException(error);
  }
}

std::string CompareCsvThreads(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return {};
  Data::CsvOptions options;
  options.requireLabels = (data[0] & 1) != 0;
  const std::string_view text(reinterpret_cast<const char*>(data + 1),
                              size - 1);
  const std::size_t eol = text.find('\n');
  if (eol == std::string_view::npos || eol + 1 >= text.size()) return {};
  const std::string_view body = text.substr(eol + 1);
  std::string big(text);
  while (big.size() < kThreadedSize) {
    big += '\n';
    big += body;
  }
  options.threads = 1;
  const ReadOutcome one = Parse(big, options);
  options.threads = 3;
  const ReadOutcome three = Parse(big, options);
  if (one.ok != three.ok || one.error != three.error)
    return "one thread says \"" + one.error + "\", three say \"" + three.error +
           "\"";
  if (one.ok &&
      (one.data.rows != three.data.rows || one.data.cols != three.data.cols ||
       !SameBits(one.data.X, three.data.X) ||
       !SameBits(one.data.labels, three.data.labels) ||
       one.data.names != three.data.names))
    return "one and three threads read different data";
  return Check(three, options);
}

}  // namespace Korva::Fuzz
