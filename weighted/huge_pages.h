#ifndef KORVA_WEIGHTED_HUGE_PAGES_H_
#define KORVA_WEIGHTED_HUGE_PAGES_H_

#include <cstddef>

namespace Korva {

// Asks for huge pages for the whole 2 MiB pages of a block not touched yet
// and maps all of its pages in one call. On a virtual machine each first
// touch of a small page costs a fault of about 11 µs, which for the large
// matrices of a training costs more than filling them.
void AdviseHugePages(void* data, std::size_t bytes);

}  // namespace Korva

#endif  // KORVA_WEIGHTED_HUGE_PAGES_H_
