#ifndef KORVA_HOSTKIT_NUMBER_TEXT_H_
#define KORVA_HOSTKIT_NUMBER_TEXT_H_

// Numbers as the host kit writes and reads them in documents and messages.

#include <charconv>
#include <cmath>
#include <optional>
#include <string>

namespace Korva::HostKit {

// The shortest text that reads back to the same double; "nan" for NaN.
inline std::string Shortest(double value) {
  if (std::isnan(value)) return "nan";
  char buffer[64];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof(buffer), value);
  return std::string(buffer, ec == std::errc() ? end : buffer);
}

// `text` as one finite decimal number ("-0.25", "1e-05"), or nothing: no
// blanks, no hexadecimal, no "inf" or "nan", nothing after the number.
inline std::optional<double> DecimalNumber(const std::string& text) {
  const char* s = text.c_str();
  const char* digits = s + (*s == '+' || *s == '-');
  if (!(std::isdigit(static_cast<unsigned char>(*digits)) ||
        (*digits == '.' &&
         std::isdigit(static_cast<unsigned char>(digits[1])))))
    return std::nullopt;
  double value = 0.0;
  const auto [end, ec] = std::from_chars(s + (*s == '+'), s + text.size(),
                                         value, std::chars_format::general);
  if (ec != std::errc() || end != s + text.size() || !std::isfinite(value))
    return std::nullopt;
  return value;
}

// `text` as a whole number from `low` to `high`, digits with an optional
// sign and nothing else, or nothing.
inline std::optional<long long> WholeNumber(const std::string& text,
                                            long long low,
                                            long long high) {
  const char* s = text.c_str();
  long long value = 0;
  const char* begin = s + (*s == '+');
  const auto [end, ec] = std::from_chars(begin, s + text.size(), value);
  if (text.empty() || ec != std::errc() || end != s + text.size() ||
      value < low || value > high)
    return std::nullopt;
  return value;
}

}  // namespace Korva::HostKit

#endif  // KORVA_HOSTKIT_NUMBER_TEXT_H_
