#ifndef KORVA_TEXT_NUMBER_TEXT_H_
#define KORVA_TEXT_NUMBER_TEXT_H_

// Numbers as text, read and written by one set of rules for every input
// korva and its hosts take: data and headset CSV fields, BrainVision header
// values, recipe options and a model's recipe, option values korva reads
// itself (--threshold, --memory-limit, seeds), and the numbers of classifier
// documents.
//
// A decimal number is
//   [+|-] digits [. [digits]] [(e|E) [+|-] digits]   or   [+|-] . digits [...]
// and nothing else:
//   - a leading '+' is accepted (labels are often written +1);
//   - no blanks anywhere: a format whose fields may have blanks around them
//     (CSV, header values) trims them before it asks;
//   - no hexadecimal ("0x10", "0x1p3"), no digit separators, no decimal
//     comma, nothing after the number ("2.5kg", "1e");
//   - "nan", "inf" and "infinity" (any letter case, signed) only where the
//     caller accepts non-finite values, else NumberStatus::kNotFinite;
//   - a value beyond the largest double (about 1.8e308) is refused
//     (kOutOfRange), never read as infinity;
//   - a value too small for a double reads as the nearest double: a
//     subnormal, or 0 with the text's sign ("1e-400" is 0, "-1e-400" -0),
//     exactly as the value is rounded everywhere else.
// Every accepted text reads as the double nearest to its decimal value (ties
// to even), the value strtod gives in the C locale. The module reads the
// flags and weights of its document from a stream in the classic locale, by
// these same rules, and its attributes with strtod, which takes more: every
// number the kit accepts in a document, the module reads as the same value.
//
// A whole number is [+|-] digits, with the same refusals; leading zeros are
// decimal, never octal.
//
// FormatDouble writes the shortest text that reads back to exactly the same
// double ("0.1", "1e-05", "-0"; "nan", "inf", "-inf" for the non-finite
// values, which ParseDouble reads back where the caller accepts them).

#include <charconv>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace Korva::Text {

// What reading a number found.
enum class NumberStatus {
  kOk,
  kEmpty,       // no text at all
  kMalformed,   // text that is not a number by the rules above
  kNotFinite,   // "nan" or "inf" where a finite value is required
  kOutOfRange,  // beyond the largest double, or the integer type's range
};

// Whether the caller takes "nan", "inf" and "infinity".
enum class NonFinite { kRefused, kAccepted };

// Reads all of `text` as a decimal number into `value`, which is left as it
// was unless kOk is returned. Inline: the CSV readers call it for every
// value, and a call costs a tenth of the reading.
inline NumberStatus ParseDouble(std::string_view text,
                                double& value,
                                NonFinite nonFinite = NonFinite::kRefused);

// ParseDouble's finite value, or nothing.
std::optional<double> FiniteNumber(std::string_view text);

// Reads all of `text` as a whole number into `value`, left as it was unless
// kOk is returned; kOutOfRange beyond the type's range ("-1" for the
// unsigned type).
NumberStatus ParseWhole(std::string_view text, std::int64_t& value);
NumberStatus ParseWhole(std::string_view text, std::uint64_t& value);

// The shortest text that reads back to exactly `value` ("nan" for any NaN).
std::string FormatDouble(double value);

// FormatDouble's text appended to `out`.
void AppendDouble(std::string& out, double value);

namespace internal {

// from_chars takes a '-' but no '+': one '+' is stepped over, unless a '-'
// follows it.
inline const char* AfterPlus(const char* first, const char* last) {
  return first + (*first == '+' && !(last - first > 1 && first[1] == '-'));
}

// ParseDouble's result for the well-formed text [first, last) that
// from_chars found out of range.
NumberStatus OutOfRange(const char* first, const char* last, double& value);

}  // namespace internal

inline NumberStatus ParseDouble(std::string_view text,
                                double& value,
                                NonFinite nonFinite) {
  const char* first = text.data();
  const char* last = first + text.size();
  if (first == last) return NumberStatus::kEmpty;
  first = internal::AfterPlus(first, last);
  double read = 0.0;
  // The general format: decimal only, so "0x10" ends at the 'x'.
  const auto [end, ec] = std::from_chars(first, last, read);
  if (ec == std::errc::invalid_argument || end != last)
    return NumberStatus::kMalformed;
  if (ec == std::errc::result_out_of_range)
    return internal::OutOfRange(first, last, value);
  if (!std::isfinite(read) && nonFinite == NonFinite::kRefused)
    return NumberStatus::kNotFinite;
  value = read;
  return NumberStatus::kOk;
}

}  // namespace Korva::Text

#endif  // KORVA_TEXT_NUMBER_TEXT_H_
