#include "cli/memory_option.h"

#include <cctype>
#include <cmath>
#include <string_view>

#include "korva/hostkit/memory_budget.h"
#include "text/number_text.h"

namespace Korva::Cli {

std::optional<std::uint64_t> ParseMemorySize(const std::string& text) {
  if (text == "none") return HostKit::kNoMemoryLimit;
  // The number, then its unit: the letters at the end.
  const size_t letters = text.find_last_not_of(
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ");
  std::string unit = text.substr(letters + 1);  // K, KB or KiB
  const std::optional<double> number =
      Text::FiniteNumber(std::string_view(text).substr(0, letters + 1));
  if (!number) return std::nullopt;
  if ((unit.size() == 3 && unit.compare(1, 2, "iB") == 0) ||
      (unit.size() == 2 && unit[1] == 'B'))
    unit.resize(1);
  static const std::string kUnits = "KMGT";
  double scale = 1;
  if (!unit.empty()) {
    const size_t at = kUnits.find(
        static_cast<char>(std::toupper(static_cast<unsigned char>(unit[0]))));
    if (unit.size() != 1 || at == std::string::npos) return std::nullopt;
    scale = std::ldexp(1.0, 10 * static_cast<int>(at + 1));
  }
  const double bytes = std::floor(*number * scale);
  if (!(bytes >= 1) || bytes >= 1.8e19) return std::nullopt;
  return static_cast<std::uint64_t>(bytes);
}

void AddMemoryLimitOption(CLI::App* command, std::string& limit) {
  command
      ->add_option("--memory-limit",
                   limit,
                   "most memory training, or cutting recordings into epochs, "
                   "may take, checked from the data's shape before it "
                   "starts: 512M, 4G, none (default 1G, or half the physical "
                   "memory when that is less)")
      ->check(CLI::Validator(
          [](std::string& text) {
            return ParseMemorySize(text)
                       ? std::string()
                       : "is a size such as 512M, 4G or 1.5GiB, or none (" +
                             text + ")";
          },
          "SIZE"));
}

void ApplyMemoryLimit(const std::string& limit) {
  HostKit::SetTrainingMemoryLimit(limit.empty()
                                      ? HostKit::DefaultTrainingMemoryLimit()
                                      : *ParseMemorySize(limit),
                                  "--memory-limit raises the limit");
}

}  // namespace Korva::Cli
