#include <cmath>
#include <cstdint>
#include <cstring>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "data/csv_io.h"
#include "data/dataset.h"
#include "fuzz/harnesses.h"

namespace Korva::Fuzz {
namespace {

constexpr const char* kFileName = "fuzz.csv";
// Past this size the reader splits the body across threads.
constexpr std::size_t kThreadedSize = std::size_t{1} << 20;

struct Outcome {
  bool ok = false;
  Data::Dataset data;
  std::string error;
};

Outcome Parse(std::string_view text, const Data::CsvOptions& options) {
  Outcome outcome;
  try {
    outcome.data = Data::ParseCsv(text, kFileName, options);
    outcome.ok = true;
  } catch (const Data::DataError& error) {
    outcome.error = error.what();
  }
  return outcome;
}

std::string CheckShape(const Outcome& outcome,
                       const Data::CsvOptions& options) {
  if (!outcome.ok) {
    if (outcome.error.rfind(kFileName, 0) != 0)
      return "a refusal does not name the file: " + outcome.error;
    return {};
  }
  const Data::Dataset& d = outcome.data;
  if (d.rows <= 0 || d.cols <= 0)
    return "an accepted set has no rows or columns";
  if (d.X.size() != static_cast<std::size_t>(d.rows) * d.cols)
    return "the value count is not rows x columns";
  if (d.names.size() != static_cast<std::size_t>(d.cols))
    return "the name count is not the column count";
  if (options.requireLabels && !d.hasLabels)
    return "labels were required but the set has none";
  if (d.labels.size() != (d.hasLabels ? static_cast<std::size_t>(d.rows) : 0))
    return "the label count is not the row count";
  for (double v : d.X)
    if (!std::isfinite(v)) return "an accepted value is not finite";
  for (double v : d.labels)
    if (!std::isfinite(v)) return "an accepted label is not finite";
  return {};
}

template <typename Values>
bool SameBits(const Values& a, const Values& b) {
  return a.size() == b.size() &&
         (a.empty() || std::memcmp(a.data(), b.data(), a.size() * 8) == 0);
}

}  // namespace

std::string FuzzCsv(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return {};
  const std::uint8_t flags = data[0];
  Data::CsvOptions options;
  options.requireLabels = (flags & 1) != 0;
  options.threads = 1 + ((flags >> 1) & 3);
  const std::string_view text(reinterpret_cast<const char*>(data + 1),
                              size - 1);
  try {
    return CheckShape(Parse(text, options), options);
  } catch (const std::exception& error) {
    return std::string("the reader threw something else than DataError: ") +
           error.what();
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
  const Outcome one = Parse(big, options);
  options.threads = 3;
  const Outcome three = Parse(big, options);
  if (one.ok != three.ok || one.error != three.error)
    return "one thread says \"" + one.error + "\", three say \"" + three.error +
           "\"";
  if (one.ok &&
      (one.data.rows != three.data.rows || one.data.cols != three.data.cols ||
       !SameBits(one.data.X, three.data.X) ||
       !SameBits(one.data.labels, three.data.labels) ||
       one.data.names != three.data.names))
    return "one and three threads read different data";
  return CheckShape(three, options);
}

}  // namespace Korva::Fuzz
