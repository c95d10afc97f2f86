#include "korva/hostkit/memory_budget.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>

#include "korva/hostkit/error.h"

namespace Korva::HostKit {
namespace {

constexpr std::uint64_t kGiB = std::uint64_t{1} << 30;

// Counts in doubles; every product saturates, so a hostile shape (a million
// columns) gives a huge number, never a wrapped small one.
std::uint64_t Times(std::uint64_t a, std::uint64_t b) {
  return a != 0 && b > UINT64_MAX / a ? UINT64_MAX : a * b;
}
std::uint64_t Plus(std::uint64_t a, std::uint64_t b) {
  return b > UINT64_MAX - a ? UINT64_MAX : a + b;
}

std::atomic<std::uint64_t> gLimit{0};  // 0: not set, the default applies
std::mutex gHintMutex;
std::string gHint;

std::uint64_t Count(std::int64_t value) {
  return static_cast<std::uint64_t>(std::max<std::int64_t>(value, 0));
}

// The cross-product of the features and the label, q x q.
std::uint64_t CrossProductBytes(std::int64_t cols) {
  return Times(Times(Count(cols) + 1, Count(cols) + 1), sizeof(double));
}

}  // namespace

// The sizes follow what the module allocates (stepwise/stepwise_engine.h,
// "Memory"; stepwise/step_calc.cpp; the driver's class matrices). With
// n rows, p columns, q = p + 1 and c = max(0, min(p, n - 3)) rows of the
// engine's factor, in doubles:
//   data         n p, and n p more when the kit copies the host's matrix
//   labels       n
//   classes      n p            the rows of each class, kept by the module
//   engine       q² + c q + c² + min(n, 128) q + 8 q + 4 p
//   exact step   2 n (p - k) + 3 n (k + 1) <= 2 n p + n (c + 3) with k
//                features in the model: the candidate columns and their
//                projection, the model's columns, their QR factor and Q
std::uint64_t TrainingMemory(std::int64_t rows,
                             std::int64_t cols,
                             bool copiesData) {
  const std::uint64_t n = Count(rows), p = Count(cols), q = p + 1;
  const std::uint64_t c = n > 3 ? std::min(p, n - 3) : 0;
  const std::uint64_t terms[] = {Times(copiesData ? 5 : 4, Times(n, p)),
                                 n,
                                 Times(q, q),
                                 Times(c, q),
                                 Times(c, c),
                                 Times(std::min<std::uint64_t>(n, 128) + 8, q),
                                 Times(4, p),
                                 Times(n, c + 3)};
  std::uint64_t doubles = 0;
  for (const std::uint64_t term : terms) doubles = Plus(doubles, term);
  return Times(doubles, sizeof(double));
}

std::uint64_t SharedTrainingMemory(std::int64_t rows,
                                   std::int64_t cols,
                                   int trainings,
                                   int settings,
                                   int blocks) {
  const std::uint64_t n = Count(rows), p = Count(cols), q = p + 1;
  const std::uint64_t c = n <= 3 ? 0 : std::min(p, n - 3);  // model columns
  const std::uint64_t waiting =
      Times(Count(settings - 1), Plus(Times(c, q), Times(q, q)));
  const std::uint64_t terms[] = {Times(2, Times(q, q)),
                                 Times(2, Times(n, p)),
                                 Times(c, q),
                                 Times(c, c),
                                 waiting};
  std::uint64_t shared = 0;
  for (const std::uint64_t term : terms) shared = Plus(shared, term);
  // A worker runs the shared trainings, frees them, then trains alone what
  // they left to Train: the larger of the two at a time.
  const std::uint64_t perProcess =
      std::max(Times(shared, sizeof(double)), TrainingMemory(rows, cols, false));
  const std::uint64_t set =
      Plus(Times(q, q), Times(Count(blocks), Plus(Times(q, q), Times(2, p))));
  return Plus(Times(set, sizeof(double)), Times(perProcess, Count(trainings)));
}

bool BlockProductsFit(std::int64_t rows,
                      std::int64_t cols,
                      int trainings,
                      int settings,
                      int blocks) {
  const std::uint64_t limit = TrainingMemoryLimit();
  return limit == kNoMemoryLimit ||
         SharedTrainingMemory(rows, cols, std::max(trainings, 1),
                              std::max(settings, 1), blocks) <= limit;
}

std::uint64_t DefaultTrainingMemoryLimit() {
  const long pages = ::sysconf(_SC_PHYS_PAGES);
  const long pageSize = ::sysconf(_SC_PAGESIZE);
  if (pages <= 0 || pageSize <= 0) return kGiB;
  return std::min(kGiB, Times(pages, pageSize) / 2);
}

void SetTrainingMemoryLimit(std::uint64_t bytes,
                            const std::string& howToRaise) {
  gLimit = bytes;
  std::lock_guard<std::mutex> lock(gHintMutex);
  gHint = howToRaise;
}

std::uint64_t TrainingMemoryLimit() {
  const std::uint64_t limit = gLimit;
  return limit == 0 ? DefaultTrainingMemoryLimit() : limit;
}

void CheckTrainingMemory(std::int64_t rows,
                         std::int64_t cols,
                         bool copiesData,
                         int trainings,
                         int sharedSettings) {
  const std::uint64_t limit = TrainingMemoryLimit();
  const std::uint64_t one = TrainingMemory(rows, cols, copiesData);
  const std::uint64_t all =
      sharedSettings > 0
          ? std::max(Times(one, std::max(trainings, 1)),
                     SharedTrainingMemory(
                         rows, cols, std::max(trainings, 1), sharedSettings))
          : Times(one, std::max(trainings, 1));
  if (limit == kNoMemoryLimit || all <= limit) return;
  const std::string q = std::to_string(Count(cols) + 1);
  std::string text =
      "training on " + std::to_string(rows) + " rows x " +
      std::to_string(cols) + " features needs about " + MemoryText(one) +
      " of memory, " + MemoryText(CrossProductBytes(cols)) + " of it for the " +
      q + " x " + q + " cross-product of the features, whatever the rows";
  const char* shared =
      sharedSettings > 0 ? " with the cross-products they share" : "";
  if (trainings > 1)
    text += "; " + std::to_string(trainings) + " trainings at once need " +
            MemoryText(all) + shared;
  else if (sharedSettings > 0)
    text += "; " + MemoryText(all) + shared;
  text += ", more than the " + MemoryText(limit) + " allowed for training";
  std::lock_guard<std::mutex> lock(gHintMutex);
  if (!gHint.empty()) text += "; " + gHint;
  throw Error(ErrorKind::kData, text);
}

void CheckMemoryNeed(std::uint64_t bytes, const std::string& what) {
  const std::uint64_t limit = TrainingMemoryLimit();
  if (limit == kNoMemoryLimit || bytes <= limit) return;
  std::string text = what + " needs about " + MemoryText(bytes) +
                     " of memory, more than the " + MemoryText(limit) +
                     " allowed";
  std::lock_guard<std::mutex> lock(gHintMutex);
  if (!gHint.empty()) text += "; " + gHint;
  throw Error(ErrorKind::kData, text);
}

std::string MemoryText(std::uint64_t bytes) {
  static const char* const kUnits[] = {
      "bytes", "KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
  double value = static_cast<double>(bytes);
  int unit = 0;
  while (value >= 1024 && unit < 6) {
    value /= 1024;
    ++unit;
  }
  char text[32];
  if (unit == 0 || value >= 100 || value == static_cast<int>(value))
    std::snprintf(text, sizeof text, "%.0f %s", value, kUnits[unit]);
  else
    std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
  return text;
}

}  // namespace Korva::HostKit
