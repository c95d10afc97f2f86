#include "data/csv_io.h"
#include "fuzz/checks.h"
#include "fuzz/harnesses.h"

namespace Korva::Fuzz {
namespace {

constexpr const char* kFileName = "fuzz.csv";
// Past this size the reader splits the body across threads.
constexpr std::size_t kThreadedSize = std::size_t{1} << 20;

ReadOutcome Parse(std::string_view text, const Data::CsvOptions& options) {
  return TryRead([&] { return Data::ParseCsv(text, kFileName, options); });
}

}  // namespace

std::string FuzzCsv(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return {};
  Data::CsvOptions options;
  options.requireLabels = (data[0] & 1) != 0;
  options.threads = 1 + ((data[0] >> 1) & 3);
  const std::string_view text(reinterpret_cast<const char*>(data + 1),
                              size - 1);
  return CheckOutcome(
      Parse(text, options), kFileName, options.requireLabels, true);
}

std::string CompareCsvThreads(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return {};
  const std::string_view text(reinterpret_cast<const char*>(data + 1),
                              size - 1);
  const std::size_t eol = text.find('\n');
  if (eol == std::string_view::npos || eol + 1 >= text.size()) return {};
  std::string big(text);
  while (big.size() < kThreadedSize)
    big.append("\n").append(text.substr(eol + 1));
  Data::CsvOptions options;
  options.requireLabels = (data[0] & 1) != 0;
  options.threads = 1;
  const ReadOutcome one = Parse(big, options);
  options.threads = 3;
  const ReadOutcome three = Parse(big, options);
  if (one.ok != three.ok || one.error != three.error ||
      one.data.rows != three.data.rows || one.data.X != three.data.X ||
      one.data.labels != three.data.labels ||
      one.data.names != three.data.names)
    return "one and three threads read differently: \"" + one.error + "\", \"" +
           three.error + "\"";
  return CheckOutcome(three, kFileName, options.requireLabels, true);
}

}  // namespace Korva::Fuzz
