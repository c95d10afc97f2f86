#ifndef KORVA_HOSTKIT_MEMORY_BUDGET_H_
#define KORVA_HOSTKIT_MEMORY_BUDGET_H_

#include <cstdint>
#include <string>

#include "korva/export.h"

namespace Korva::HostKit {

// What a stepwise training of `rows` x `cols` values takes at its peak, in
// bytes, from the shape alone: the kit's copy of the data (when
// `copiesData`), the labels, the rows split by class, the incremental
// engine's (cols + 1)² cross-product with its factor, and an exact
// regression step's copies of the columns. The cross-product does not
// depend on the rows: a few rows of many columns need far more than their
// file.
KORVA_HOSTKIT_API std::uint64_t TrainingMemory(std::int64_t rows,
                                               std::int64_t cols,
                                               bool copiesData);

// The limit: 1 GiB, or half the physical memory when that is less.
KORVA_HOSTKIT_API std::uint64_t DefaultTrainingMemoryLimit();

// The most memory the trainings running at once in this process (or its
// worker processes) may take; kNoMemoryLimit for none. `howToRaise` ends
// the refusal's message ("--memory-limit raises it"), "" for nothing.
constexpr std::uint64_t kNoMemoryLimit = UINT64_MAX;
KORVA_HOSTKIT_API void SetTrainingMemoryLimit(std::uint64_t bytes,
                                              const std::string& howToRaise);
KORVA_HOSTKIT_API std::uint64_t TrainingMemoryLimit();

// What `trainings` processes of a module's shared trainings
// (korva/subset_training.h, HostKit::SharedRows) on `rows` x `cols` values
// need at once, each training `settings` settings of a fold together, in
// bytes: the whole set's cross-product and those of `blocks` held-out
// blocks with the class means of the rows outside each
// (HostKit::SharedRows::Open), held once and shared by them all;
// in each process the larger of a training alone (TrainingMemory, for what
// the module leaves to Train after its shared trainings are freed) and the
// shared trainings' own: the fold's cross-product and one more (a fold's
// inner set, when its threshold is chosen by a cross-validation of its
// rows), the fold's training rows and the module's copy of them, the
// engine's factor of at most c = min(cols, rows - 3) model columns, and for
// every setting but the first a copy of that factor (c rows of cols + 1
// values and their (cols + 1)² inverse) that waits its turn.
KORVA_HOSTKIT_API std::uint64_t SharedTrainingMemory(std::int64_t rows,
                                                     std::int64_t cols,
                                                     int trainings,
                                                     int settings,
                                                     int blocks = 0);

// Whether the shared trainings may keep the products of `blocks` held-out
// blocks beside the rest: SharedTrainingMemory with them is within the
// limit. Where it is not they do without (and pass over the held-out rows
// once per subset), which the estimate of CheckTrainingMemory counts.
KORVA_HOSTKIT_API bool BlockProductsFit(std::int64_t rows,
                                        std::int64_t cols,
                                        int trainings,
                                        int settings,
                                        int blocks);

// Error(kData) when `trainings` trainings of `rows` x `cols` values at the
// same time would take more than the limit; Train calls it before it
// allocates anything. With `sharedSettings` above 0 they may be a module's
// shared trainings of that many settings a fold: the larger of the two
// needs (SharedTrainingMemory) counts.
KORVA_HOSTKIT_API void CheckTrainingMemory(std::int64_t rows,
                                           std::int64_t cols,
                                           bool copiesData,
                                           int trainings = 1,
                                           int sharedSettings = 0);

// Error(kData) "WHAT needs about N of memory, more than the L allowed;
// HOW TO RAISE" when `bytes`, what other work than a training (cutting
// recordings into epochs) would take, is above the limit of trainings.
KORVA_HOSTKIT_API void CheckMemoryNeed(std::uint64_t bytes,
                                       const std::string& what);

// `bytes` for a message: "512 MiB", "1.9 GiB".
KORVA_HOSTKIT_API std::string MemoryText(std::uint64_t bytes);

}  // namespace Korva::HostKit

#endif  // KORVA_HOSTKIT_MEMORY_BUDGET_H_
