#include "platform/huge_pages.h"

#include <sys/mman.h>

#include <cstdint>

namespace Korva {

void AdviseHugePages(void* data, std::size_t bytes, Populate populate) {
  constexpr std::uintptr_t kHuge = std::uintptr_t{1} << 21;
  constexpr std::uintptr_t kPage = std::uintptr_t{1} << 12;
  const auto start = reinterpret_cast<std::uintptr_t>(data);
  const std::uintptr_t end = start + bytes;
  const std::uintptr_t first = (start + kHuge - 1) & ~(kHuge - 1);
  const std::uintptr_t last = end & ~(kHuge - 1);
  if (last > first)
    ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
  if (populate == Populate::kNo) return;
  // Only the pages wholly inside the block: its ends may share a page with
  // other memory.
  const std::uintptr_t low = (start + kPage - 1) & ~(kPage - 1);
  const std::uintptr_t high = end & ~(kPage - 1);
  if (high > low)
    ::madvise(reinterpret_cast<void*>(low), high - low, MADV_POPULATE_WRITE);
}

}  // namespace Korva
