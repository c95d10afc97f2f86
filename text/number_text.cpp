#include "text/number_text.h"

#include <locale.h>
#include <stdlib.h>

#include <charconv>
#include <cmath>
#include <type_traits>

namespace Korva::Text {
namespace {

template <typename Integer>
NumberStatus ReadWhole(std::string_view text, Integer& value) {
  const char* first = text.data();
  const char* last = first + text.size();
  if (first == last) return NumberStatus::kEmpty;
  Integer read = 0;
  const auto [end, ec] =
      std::from_chars(internal::AfterPlus(first, last), last, read);
  if (ec == std::errc::invalid_argument || end != last) {
    // A negative number for an unsigned type is out of its range; "-0" is 0.
    if constexpr (std::is_unsigned_v<Integer>) {
      std::int64_t negative = 1;
      const NumberStatus status =
          *first == '-' ? ReadWhole(text, negative) : NumberStatus::kMalformed;
      if (status == NumberStatus::kOk && negative == 0) {
        value = 0;
        return NumberStatus::kOk;
      }
      if (status != NumberStatus::kMalformed) return NumberStatus::kOutOfRange;
    }
    return NumberStatus::kMalformed;
  }
  if (ec == std::errc::result_out_of_range) return NumberStatus::kOutOfRange;
  value = read;
  return NumberStatus::kOk;
}

}  // namespace

namespace internal {

// Refused beyond the largest double; else the nearest double (a subnormal or
// a signed zero), which strtod in the C locale rounds correctly. Rare, so a
// copy and a call to strtod cost nothing.
NumberStatus OutOfRange(const char* first, const char* last, double& value) {
  static const locale_t c = ::newlocale(LC_ALL_MASK, "C", locale_t{});
  const std::string copy(first, last);
  const double nearest = c ? ::strtod_l(copy.c_str(), nullptr, c)
                           : std::strtod(copy.c_str(), nullptr);
  if (std::isinf(nearest)) return NumberStatus::kOutOfRange;
  value = nearest;
  return NumberStatus::kOk;
}

}  // namespace internal

std::optional<double> FiniteNumber(std::string_view text) {
  double value = 0.0;
  if (ParseDouble(text, value) != NumberStatus::kOk) return std::nullopt;
  return value;
}

NumberStatus ParseWhole(std::string_view text, std::int64_t& value) {
  return ReadWhole(text, value);
}

NumberStatus ParseWhole(std::string_view text, std::uint64_t& value) {
  return ReadWhole(text, value);
}

std::string FormatDouble(double value) {
  std::string text;
  AppendDouble(text, value);
  return text;
}

void AppendDouble(std::string& out, double value) {
  if (std::isnan(value)) {
    out += "nan";
    return;
  }
  // The longest shortest form is 24 characters ("-2.2250738585072014e-308");
  // to_chars writes "inf" and "-inf" itself.
  char buffer[32];
  out.append(buffer, std::to_chars(buffer, buffer + sizeof(buffer), value).ptr);
}

}  // namespace Korva::Text
