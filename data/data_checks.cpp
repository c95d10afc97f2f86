#include "data/data_checks.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <map>
#include <set>
#include <unordered_map>

#include "text/number_text.h"

namespace Korva::Data {

using Text::FormatDouble;

namespace {

// One step of a column's hash over the bits of one value, with -0 read as 0
// so that columns that compare equal hash equally: one multiply per value
// (the hash only picks the pairs that SameColumn then compares).
std::uint64_t HashStep(std::uint64_t h, double value) {
  if (value == 0.0) value = 0.0;
  std::uint64_t bits;
  std::memcpy(&bits, &value, sizeof(bits));
  h = (h ^ bits) * 0x9e3779b97f4a7c15ULL;
  return h ^ (h >> 32);
}

bool SameColumn(const Dataset& data, int a, int b) {
  for (int r = 0; r < data.rows; ++r)
    if (data.At(r, a) != data.At(r, b)) return false;
  return true;
}

}  // namespace

LabelCounts CountLabels(const Dataset& data) {
  LabelCounts counts;
  for (double label : data.labels) {
    if (label == 1.0)
      ++counts.positive;
    else if (label == -1.0)
      ++counts.negative;
    else
      ++counts.other;
  }
  return counts;
}

namespace {

// "1 (700 rows) and 2 (140 rows)": the distinct labels with their counts,
// at most six of them.
std::string DescribeLabels(const std::map<double, int>& values) {
  std::string text;
  size_t i = 0;
  for (const auto& [value, count] : values) {
    if (i == 6)
      return text + " and " + std::to_string(values.size() - 6) +
             " more values";
    text += (i == 0                   ? ""
             : i + 1 == values.size() ? " and "
                                      : ", ") +
            FormatDouble(value) + " (" + std::to_string(count) +
            (count == 1 ? " row)" : " rows)");
    ++i;
  }
  return text;
}

// The label most likely meant as the target: 1 of 0 and 1, else the rarest.
double LikelyTarget(const std::map<double, int>& values) {
  if (values.size() == 2 && values.count(0.0) && values.count(1.0)) return 1.0;
  const auto rarest = std::min_element(
      values.begin(), values.end(), [](const auto& a, const auto& b) {
        return a.second < b.second;
      });
  return rarest->first;
}

}  // namespace

void SetClasses(Dataset& data,
                std::optional<double> target,
                const std::string& what) {
  if (!data.hasLabels) return;
  std::map<double, int> values;
  for (double label : data.labels) ++values[label];
  if (target) {
    if (!values.count(*target))
      throw DataError(what + ": --target-label " + FormatDouble(*target) +
                      " is not one of its labels, which are " +
                      DescribeLabels(values));
    for (double& label : data.labels) label = label == *target ? 1.0 : -1.0;
    return;
  }
  if (std::all_of(values.begin(), values.end(), [](const auto& v) {
        return v.first == 1.0 || v.first == -1.0;
      }))
    return;
  throw DataError(what + ": the labels are " + DescribeLabels(values) +
                  "; this classifier takes +1 for the target and -1 for the "
                  "rest: say which label is the target with --target-label "
                  "(--target-label " +
                  FormatDouble(LikelyTarget(values)) +
                  " makes its rows +1 and all others -1)");
}

std::vector<UselessColumn> FindUselessColumns(const Dataset& data) {
  std::vector<UselessColumn> found;
  if (data.rows == 0) return found;
  const int m = data.cols;
  std::vector<std::uint64_t> hash(m, 0xcbf29ce484222325ULL);
  std::vector<char> constant(m, 1);
  std::vector<double> largest(m, 0.0);
  for (int r = 0; r < data.rows; ++r) {
    for (int c = 0; c < m; ++c) {
      const double v = data.At(r, c);
      hash[c] = HashStep(hash[c], v);
      if (v != data.At(0, c)) constant[c] = 0;
      largest[c] = std::max(largest[c], std::fabs(v));
    }
  }
  // Σx² over the rows overflows once n · max|x|² passes the largest double.
  const double overflow =
      std::sqrt(std::numeric_limits<double>::max() / data.rows);
  std::unordered_map<std::uint64_t, std::vector<int>> seen;
  for (int c = 0; c < m; ++c) {
    if (largest[c] > overflow)
      found.push_back({c, UselessColumn::kOverflowing, largest[c], -1});
    if (constant[c]) {
      const double v = data.At(0, c);
      found.push_back(
          {c,
           v == 0.0 ? UselessColumn::kAllZero : UselessColumn::kConstant,
           v + 0.0,
           -1});
      continue;
    }
    std::vector<int>& same = seen[hash[c]];
    int original = -1;
    for (int earlier : same) {
      if (SameColumn(data, earlier, c)) {
        original = earlier;
        break;
      }
    }
    if (original >= 0)
      found.push_back({c, UselessColumn::kDuplicate, 0.0, original});
    else
      same.push_back(c);
  }
  return found;
}

std::string FeatureLabel(const Dataset& data, int column) {
  std::string label = "feature " + std::to_string(column + 1);
  if (column < static_cast<int>(data.names.size()) &&
      !data.names[column].empty())
    label += " (" + data.names[column] + ")";
  return label;
}

std::vector<std::string> DescribeUselessColumns(
    const Dataset& data,
    const std::vector<UselessColumn>& columns,
    size_t listed) {
  struct Group {
    UselessColumn::Kind kind;
    const char* heading;
  };
  const Group groups[] = {
      {UselessColumn::kAllZero, "all zero and cannot help: "},
      {UselessColumn::kConstant, "constant and cannot help: "},
      {UselessColumn::kDuplicate,
       "exact duplicates of an earlier column and cannot help: "},
      {UselessColumn::kOverflowing,
       "too large: the sums of their squares overflow, so training cannot "
       "test them; rescale them: "},
  };
  std::vector<std::string> warnings;
  for (const Group& group : groups) {
    std::vector<std::string> items;
    for (const UselessColumn& column : columns) {
      if (column.kind != group.kind) continue;
      std::string item = FeatureLabel(data, column.column);
      if (column.kind == UselessColumn::kConstant)
        item += " = " + FormatDouble(column.value);
      if (column.kind == UselessColumn::kOverflowing)
        item += " up to " + FormatDouble(column.value);
      if (column.kind == UselessColumn::kDuplicate)
        item += " = " + FeatureLabel(data, column.duplicateOf);
      items.push_back(std::move(item));
    }
    if (items.empty()) continue;
    std::string text = std::to_string(items.size()) +
                       (items.size() == 1 ? " column is " : " columns are ") +
                       group.heading;
    for (size_t i = 0; i < items.size() && i < listed; ++i)
      text += (i ? ", " : "") + items[i];
    if (items.size() > listed)
      text += " and " + std::to_string(items.size() - listed) + " more";
    warnings.push_back(std::move(text));
  }
  return warnings;
}

std::vector<int> CodeColumns(const Dataset& data) {
  constexpr double kLargestCode = 65535.0;
  constexpr size_t kMostCodes = 32;
  std::vector<int> found;
  for (int c = 0; c < data.cols; ++c) {
    std::set<double> codes;
    bool codesOnly = data.rows > 0;
    for (int r = 0; r < data.rows && codesOnly; ++r) {
      const double v = data.At(r, c);
      codesOnly = v == std::floor(v) && std::fabs(v) <= kLargestCode &&
                  (codes.insert(v), codes.size() <= kMostCodes);
    }
    if (codesOnly && codes.size() > 1) found.push_back(c);
  }
  return found;
}

std::optional<std::vector<int>> MatchNames(
    const std::vector<std::string>& wanted,
    const std::vector<std::string>& given) {
  if (wanted.size() != given.size()) return std::nullopt;
  std::unordered_map<std::string, int> position;
  for (size_t i = 0; i < given.size(); ++i)
    if (!position.emplace(given[i], static_cast<int>(i)).second)
      return std::nullopt;
  std::vector<int> order;
  for (const std::string& name : wanted) {
    const auto at = position.find(name);
    if (at == position.end()) return std::nullopt;
    order.push_back(at->second);
    position.erase(at);
  }
  return order;
}

Dataset SelectColumns(const Dataset& data, const std::vector<int>& order) {
  Dataset out = data;
  out.cols = static_cast<int>(order.size());
  out.names.clear();
  out.X = Values(data.rows, out.cols);
  for (int c = 0; c < out.cols; ++c) {
    if (order[c] < static_cast<int>(data.names.size()))
      out.names.push_back(data.names[order[c]]);
    for (int r = 0; r < data.rows; ++r)
      out.X[static_cast<size_t>(r) * out.cols + c] = data.At(r, order[c]);
  }
  return out;
}

}  // namespace Korva::Data
