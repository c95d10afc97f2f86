#ifndef KORVA_INFO_SECTION_H_
#define KORVA_INFO_SECTION_H_

// The stepwise classifier's training result as its info section carries it:
// attribute "Count" (the number of features), element "IN" (one flag per
// feature, "1" or "0", each followed by a tab) and element "Weights" (one
// weight per feature in the stream's default form, each followed by a tab).
// The module writes the section; the module and hosts read it with these.

#include <cstddef>
#include <locale>
#include <sstream>
#include <vector>

namespace Korva {

constexpr const char* kCountAttribute = "Count";
constexpr const char* kFlagsElement = "IN";
constexpr const char* kWeightsElement = "Weights";

// The most features an info section may declare: a larger "Count" is
// refused, so that a damaged or forged file cannot make a reader allocate
// more than about 10 MB (one flag and one weight per feature).
constexpr long long kMaxFeatureCount = 1LL << 20;

// The first n flags of an "IN" text: each integer read in turn gives true
// when it is not 0. From the first token that is not an integer on, and past
// the end of the text, the flags are false.
inline std::vector<bool> ReadFlagsText(const char* text, std::size_t n) {
  std::vector<bool> flags(n, false);
  std::istringstream in(text);
  in.imbue(std::locale::classic());
  int flag = 0;
  for (std::size_t i = 0; i < n && in >> flag; ++i) flags[i] = flag != 0;
  return flags;
}

// The first n numbers of a "Weights" text; from the first token that is not
// a number on, and past the end of the text, 0.0.
inline std::vector<double> ReadWeightsText(const char* text, std::size_t n) {
  std::vector<double> weights(n, 0.0);
  std::istringstream in(text);
  in.imbue(std::locale::classic());
  double w = 0.0;
  for (std::size_t i = 0; i < n && in >> w; ++i) weights[i] = w;
  return weights;
}

}  // namespace Korva

#endif  // KORVA_INFO_SECTION_H_
