#include "data/data_checks.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <unordered_map>

#include "data/csv_io.h"

namespace Korva::Data {
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

std::vector<std::string> LabelWarnings(const Dataset& data,
                                       const std::string& what) {
  std::vector<std::string> warnings;
  if (!data.hasLabels) return warnings;
  const LabelCounts counts = CountLabels(data);
  if (counts.other > 0) {
    warnings.push_back(
        what + ": " + std::to_string(counts.other) + " of " +
        std::to_string(data.rows) +
        " rows have a label other than +1 or -1; training regresses on them "
        "but puts them in neither class");
  }
  if (counts.positive == 0 || counts.negative == 0) {
    warnings.push_back(what + ": only one class (" +
                       std::to_string(counts.positive) + " rows labelled +1, " +
                       std::to_string(counts.negative) +
                       " labelled -1); the classifier cannot learn to tell "
                       "two classes apart");
  }
  return warnings;
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

void RecodeLabels(Dataset& data, double target) {
  for (double& label : data.labels) label = label == target ? 1.0 : -1.0;
}

bool LabelsAreZeroOne(const Dataset& data) {
  bool zero = false, one = false;
  for (double label : data.labels) {
    if (label != 0.0 && label != 1.0) return false;
    (label == 0.0 ? zero : one) = true;
  }
  return zero && one;
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
